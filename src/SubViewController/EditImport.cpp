// XML読込 and CSV読込 of the edit screen: another analyst's tags merged into
// the open video's, and the question of teams and of codes the chosen code
// window lacks.
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "MainViewController.h"
#include "Media/Player.h"
#include "SessionController.h"
#include "SubModuleClass/AtomicFile.h"
#include "SubModuleClass/CodeWindowFile.h"
#include "SubModuleClass/TagFileManager.h"
#include "SubModuleClass/XmlEditList.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewController/EditViewController.h"
#include "SubViewController/ImportDialog.h"

ImportDialog::ImportDialog(const std::vector<std::string>& teamless,
                           const std::vector<std::string>& outside, const std::string& windowName,
                           const std::string& copyName, QWidget* parent)
    : QDialog(parent) {
    setObjectName("importDialog");
    setWindowTitle("読込");
    auto* l = new QVBoxLayout(this);
    if (!teamless.empty()) {
        l->addWidget(
            new QLabel("チームの分からないコードがあります。チームを選んでください。", this));
        auto* inner = new QWidget(this);
        auto* grid = new QGridLayout(inner);
        for (size_t i = 0; i < teamless.size(); ++i) {
            const int row = static_cast<int>(i);
            grid->addWidget(new QLabel(QString::fromStdString(teamless[i]), inner), row, 0);
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
    }
    if (!outside.empty()) {
        auto* note =
            new QLabel(QString::fromStdString(
                           "コードウィンドウ「" + windowName +
                           "」にないコードがあります。そのまま読み込み、灰色で表示します。"),
                       this);
        note->setWordWrap(true);
        l->addWidget(note);
        auto* list = new QListWidget(this);
        list->setObjectName("outsideCodes");
        for (const std::string& code : outside)
            list->addItem(QString::fromStdString(code));
        list->setMaximumHeight(120);
        l->addWidget(list);
        addToCopy_ = new QCheckBox(QString::fromStdString("これらのコードを加えた複製「" +
                                                          copyName + "」を作って使う（「" +
                                                          windowName + "」は変えません）"),
                                   this);
        addToCopy_->setObjectName("addToWindowCopy");
        l->addWidget(addToCopy_);
    }
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton("読み込む", QDialogButtonBox::AcceptRole);
    QPushButton* cancel = buttons->addButton("キャンセル", QDialogButtonBox::RejectRole);
    ok->setObjectName("importOk");
    cancel->setObjectName("importCancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    l->addWidget(buttons);
}

std::vector<bool> ImportDialog::teams() const {
    std::vector<bool> teams;
    for (const QRadioButton* a : teamA_)
        teams.push_back(a->isChecked());
    return teams;
}

bool ImportDialog::addToCopy() const {
    return addToCopy_ && addToCopy_->isChecked();
}

namespace {

// "NAME (読込)", else "NAME (読込 2)", ...: a name no window has and a file
// name no file of the folder has.
std::string copyNameFor(const std::string& name, const std::vector<CodeWindow>& windows,
                        const std::filesystem::path& folder) {
    for (int n = 1;; ++n) {
        const std::string candidate =
            name + (n == 1 ? " (読込)" : " (読込 " + std::to_string(n) + ")");
        const bool taken = std::any_of(windows.begin(), windows.end(),
                                       [&](const CodeWindow& w) { return w.name == candidate; });
        std::error_code ec;
        if (!taken && !std::filesystem::exists(folder / codeWindowFileName(candidate), ec))
            return candidate;
    }
}

} // namespace

void EditViewController::chooseImportFile(const char* title, const char* extension,
                                          const char* kind,
                                          void (EditViewController::*import)(const std::string&)) {
    const Player* player = currentPlayer();
    if (!myParent || !player || !player->hasCurrentItem())
        return;
    if (!myParent->mayChangeTags())
        return;
    QWidget* w = window();
    if (!w || w == this)
        return;
    DialogProvider::FilePanel panel{title, {extension}, {}, folderOf(player->currentPath()), kind};
    QPointer<EditViewController> self(this);
    dialogProvider().openFilePanel(w, panel, [self, import](std::optional<std::string> path) {
        if (self && path && !path->empty())
            (self.data()->*import)(*path);
    });
}

void EditViewController::onTagXMLInput() {
    chooseImportFile("XML編集リストを開く", "xml", "XML編集リスト",
                     &EditViewController::importEditList);
}

void EditViewController::onTagCSVInput() {
    chooseImportFile("タグCSVを開く", "csv", "タグCSV", &EditViewController::importTagCsv);
}

void EditViewController::importEditList(const std::string& path) {
    if (!myParent || !myParent->mayChangeTags())
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
    std::vector<std::string> notes;
    if (!list.unknownElements.empty()) {
        std::string line = "読み飛ばした項目:";
        for (const std::string& name : list.unknownElements)
            line += " <" + name + ">";
        notes.push_back(std::move(line));
    }
    for (const std::string& line : list.mended)
        notes.push_back("修正: " + line);
    for (const std::string& line : read.problems)
        notes.push_back(line);
    mergeImported(std::move(read.tags), list.rows, "XML読込", notes);
}

void EditViewController::importTagCsv(const std::string& path) {
    if (!myParent || !myParent->mayChangeTags())
        return;
    TagFileManager::LoadResult loaded = TagFileManager::readCSVFile(path);
    std::error_code ec;
    if (!loaded.error.empty() || !std::filesystem::exists(path, ec)) {
        AlertBox("CSVファイルを読めません。\n" + path +
                     (loaded.error.empty() ? "" : "\n" + loaded.error),
                 "失敗", "error");
        return;
    }
    if (loaded.rows.empty() && loaded.headerMissing) {
        AlertBox("タグのCSVファイルではありません（CSV出力またはセッションファイルの形で"
                 "読み込めます）。\n" +
                     path,
                 "お知らせ", "warning");
        return;
    }
    std::vector<std::string> notes;
    if (loaded.damaged()) {
        // What could be read is offered; the file itself is never touched.
        const std::string damage = csvDamageText(loaded);
        if (loaded.rows.empty()) {
            AlertBox("CSVファイルから読み込めるタグがありません。\n" + path + "\n" + damage,
                     "お知らせ", "warning");
            return;
        }
        if (MessageBox("CSVファイルの一部を読み込めませんでした。\n" + path + "\n" + damage +
                           "読み込めたタグ " + std::to_string(loaded.rows.size()) +
                           " 件を読み込みますか？",
                       "CSV読込") != "yes")
            return;
        std::string line = damage;
        while (!line.empty() && line.back() == '\n')
            line.pop_back();
        notes.push_back(std::move(line));
    }
    std::vector<ImportedTag> tags;
    tags.reserve(loaded.rows.size());
    size_t line = 0;
    for (auto& row : loaded.rows) {
        // A record of its own: the reader's share a block.
        auto tag = std::make_shared<TagRowData>(*row);
        const bool team = tag->team;
        tags.push_back({std::move(tag), team, ++line});
    }
    // In time order, as the edit list's are.
    std::stable_sort(tags.begin(), tags.end(), [](const ImportedTag& a, const ImportedTag& b) {
        const float x = a.tag->time_val, y = b.tag->time_val;
        return !std::isnan(x) && (std::isnan(y) || x < y);
    });
    mergeImported(std::move(tags), {}, "CSV読込", notes);
}

void EditViewController::mergeImported(std::vector<ImportedTag> tags,
                                       const std::vector<EditListRow>& rows,
                                       const std::string& title,
                                       const std::vector<std::string>& notes) {
    QWidget* w = window();
    if (!myParent || !w)
        return;
    const CodeWindow& chosen = codeWindow();
    std::vector<std::string> outside;
    for (const ImportedTag& t : tags)
        if (!chosen.find(t.tag->name) &&
            std::find(outside.begin(), outside.end(), t.tag->name) == outside.end())
            outside.push_back(t.tag->name);

    // Asked once per code the file gives no team, and whether the codes the
    // window lacks go into a copy of it.
    const std::vector<std::string> teamless = unresolvedCodes(tags);
    const std::filesystem::path folder = codeWindowFolder();
    std::string copyName;
    bool addToCopy = false;
    if (!teamless.empty() || !outside.empty()) {
        copyName = copyNameFor(chosen.name, windows_, folder);
        ImportDialog dialog(teamless, outside, chosen.name, copyName, w);
        if (dialog.exec() != QDialog::Accepted)
            return;
        addToCopy = dialog.addToCopy();
        const std::vector<bool> teams = dialog.teams();
        for (ImportedTag& t : tags) {
            if (t.team)
                continue;
            const auto at = std::find(teamless.begin(), teamless.end(), t.tag->name);
            t.team = teams[static_cast<size_t>(at - teamless.begin())];
            t.tag->team = *t.team;
        }
    }

    TagDataModel& store = myParent->tagDataModel;
    const std::vector<bool> duplicate = findDuplicates(store.data, tags);
    const auto repeated = std::count(duplicate.begin(), duplicate.end(), true);
    bool addRepeated = false;
    if (repeated > 0) {
        const std::string answer = ConfirmBox("同じタグが " + std::to_string(repeated) +
                                                  " 件すでにあります。それらも加えますか？\n"
                                                  "「いいえ」で、まだないタグだけを加えます。",
                                              title);
        if (answer != "yes" && answer != "no")
            return;
        addRepeated = answer == "yes";
    }

    TagEdit edit;
    edit.kind = TagEdit::Kind::Insert;
    int64_t next = store.index;
    for (size_t i = 0; i < tags.size(); ++i) {
        if (duplicate[i] && !addRepeated)
            continue;
        tags[i].tag->index = next++;
        edit.rows.emplace_back(store.data.size() + edit.rows.size(), tags[i].tag);
    }
    const size_t added = edit.rows.size();
    if (added > 0) {
        myParent->performTagEdit(std::move(edit));
        reloadTagDataTable(true);
    }

    std::string report = std::to_string(added) + " 件のタグを読み込みました。";
    if (repeated > 0 && !addRepeated)
        report += "\nすでにある " + std::to_string(repeated) + " 件は加えませんでした。";
    bool outsideTold = false;
    if (addToCopy) {
        // The file's colours where it gives them, else grey.
        CodeWindow copy = chosen.duplicate(copyName);
        for (const std::string& name : outside) {
            Code code;
            code.name = name;
            code.color = "#808080";
            for (const EditListRow& row : rows)
                if (row.code == name && !row.color.empty())
                    code.color = row.color;
            copy.codes.push_back(std::move(code));
        }
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        const std::string failed = writeCodeWindowFile(folder / codeWindowFileName(copyName), copy);
        if (failed.empty()) {
            outsideTold = true;
            loadCodeWindows(copyName);
            report += "\nコードウィンドウ「" + copyName + "」を作り、" +
                      std::to_string(outside.size()) + " 個のコードを加えました。";
        } else {
            report += "\nコードウィンドウの複製を作れませんでした: " + failed;
        }
    }
    if (!outside.empty() && !outsideTold) {
        report += "\nコードウィンドウにないコード:";
        for (const std::string& name : outside)
            report += " " + name;
    }
    for (const std::string& line : notes)
        report += "\n" + line;
    AlertBox(report, "成功", "success");
}
