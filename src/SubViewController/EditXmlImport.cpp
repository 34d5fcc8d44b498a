// XML読込 of the edit screen and its question of teams.
#include <QButtonGroup>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>

#include "MainViewController.h"
#include "Media/Player.h"
#include "SubModuleClass/AtomicFile.h"
#include "SubModuleClass/XmlEditList.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewController/EditViewController.h"
#include "SubViewController/TeamMappingDialog.h"

TeamMappingDialog::TeamMappingDialog(const std::vector<std::string>& codes, QWidget* parent)
    : QDialog(parent) {
    setObjectName("teamMappingDialog");
    setWindowTitle("チームの割り当て");
    auto* l = new QVBoxLayout(this);
    l->addWidget(new QLabel("チームの分からないコードがあります。チームを選んでください。", this));
    auto* inner = new QWidget(this);
    auto* grid = new QGridLayout(inner);
    for (size_t i = 0; i < codes.size(); ++i) {
        const int row = static_cast<int>(i);
        grid->addWidget(new QLabel(QString::fromStdString(codes[i]), inner), row, 0);
        auto* a = new QRadioButton("チームA", inner);
        auto* b = new QRadioButton("チームB", inner);
        a->setObjectName(QString("teamA_%1").arg(row));
        b->setObjectName(QString("teamB_%1").arg(row));
        a->setChecked(true);
        auto* group = new QButtonGroup(this);
        group->addButton(a);
        group->addButton(b);
        grid->addWidget(a, row, 1);
        grid->addWidget(b, row, 2);
        teamA_.push_back(a);
    }
    auto* scroll = new QScrollArea(this);
    scroll->setWidget(inner);
    scroll->setWidgetResizable(true);
    l->addWidget(scroll, 1);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton("読み込む", QDialogButtonBox::AcceptRole);
    QPushButton* cancel = buttons->addButton("キャンセル", QDialogButtonBox::RejectRole);
    ok->setObjectName("teamMappingOk");
    cancel->setObjectName("teamMappingCancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    l->addWidget(buttons);
}

std::vector<bool> TeamMappingDialog::teams() const {
    std::vector<bool> teams;
    for (const QRadioButton* a : teamA_)
        teams.push_back(a->isChecked());
    return teams;
}

void EditViewController::onTagXMLInput() {
    const Player* player = currentPlayer();
    if (!myParent || !player || !player->hasCurrentItem())
        return;
    if (!myParent->mayChangeTags())
        return;
    QWidget* w = window();
    if (!w || w == this)
        return;
    DialogProvider::FilePanel panel{
        "XML編集リストを開く", {"xml"}, {}, folderOf(player->currentPath()), "XML編集リスト"};
    QPointer<EditViewController> self(this);
    dialogProvider().openFilePanel(w, panel, [self](std::optional<std::string> path) {
        if (self && path && !path->empty())
            self->importEditList(*path);
    });
}

void EditViewController::importEditList(const std::string& path) {
    QWidget* w = window();
    if (!myParent || !w || !myParent->mayChangeTags())
        return;
    std::string bytes, error;
    if (!readWholeFile(path, bytes, error)) {
        AlertBox("XMLファイルを読めません。\n" + error, "失敗", "error");
        return;
    }
    const EditList list = readEditList(bytes);
    if (!list.isEditList) {
        AlertBox("XML編集リストではありません。", "お知らせ", "warning");
        return;
    }
    EditListTags read = tagsFromEditList(list);

    // Asked once per code the file gives no team.
    const std::vector<std::string> codes = unresolvedCodes(read.tags);
    if (!codes.empty()) {
        TeamMappingDialog dialog(codes, w);
        if (dialog.exec() != QDialog::Accepted)
            return;
        const std::vector<bool> teams = dialog.teams();
        for (ImportedTag& t : read.tags) {
            if (t.team)
                continue;
            const auto at = std::find(codes.begin(), codes.end(), t.tag->name);
            t.team = teams[static_cast<size_t>(at - codes.begin())];
            t.tag->team = *t.team;
        }
    }

    TagDataModel& store = myParent->tagDataModel;
    const std::vector<bool> duplicate = findDuplicates(store.data, read.tags);
    const auto repeated = std::count(duplicate.begin(), duplicate.end(), true);
    bool addRepeated = false;
    if (repeated > 0) {
        const std::string answer = ConfirmBox("同じタグが " + std::to_string(repeated) +
                                                  " 件すでにあります。それらも加えますか？\n"
                                                  "「いいえ」で、まだないタグだけを加えます。",
                                              "XML読込");
        if (answer != "yes" && answer != "no")
            return;
        addRepeated = answer == "yes";
    }

    TagEdit edit;
    edit.kind = TagEdit::Kind::Insert;
    int64_t next = store.index;
    for (size_t i = 0; i < read.tags.size(); ++i) {
        if (duplicate[i] && !addRepeated)
            continue;
        read.tags[i].tag->index = next++;
        edit.rows.emplace_back(store.data.size() + edit.rows.size(), read.tags[i].tag);
    }
    const size_t added = edit.rows.size();
    if (added > 0) {
        myParent->performTagEdit(std::move(edit));
        reloadTagDataTable(true);
    }

    std::string report = std::to_string(added) + " 件のタグを読み込みました。";
    if (repeated > 0 && !addRepeated)
        report += "\nすでにある " + std::to_string(repeated) + " 件は加えませんでした。";
    std::vector<std::string> outside;
    for (size_t i = 0; i < read.tags.size(); ++i) {
        const std::string& name = read.tags[i].tag->name;
        if ((!duplicate[i] || addRepeated) && !codeWindow().find(name) &&
            std::find(outside.begin(), outside.end(), name) == outside.end())
            outside.push_back(name);
    }
    if (!outside.empty()) {
        report += "\nコードウィンドウにないコード:";
        for (const std::string& name : outside)
            report += " " + name;
    }
    if (!list.unknownElements.empty()) {
        report += "\n読み飛ばした項目:";
        for (const std::string& name : list.unknownElements)
            report += " <" + name + ">";
    }
    for (const std::string& line : list.mended)
        report += "\n修正: " + line;
    for (const std::string& line : read.problems)
        report += "\n" + line;
    AlertBox(report, "成功", "success");
}
