#include "angles/AnglesDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

#include "SubViewClass/CustomAlert.h"
#include "angles/AngleAlignDialog.h"
#include "angles/AngleText.h"
#include "player/MediaProbe.h"

namespace {

enum Column { Name, File, Offset, Drift };

std::filesystem::path normal(const std::filesystem::path& p) {
    return std::filesystem::absolute(p).lexically_normal();
}

} // namespace

AnglesDialog::AnglesDialog(const MatchInfo& match, std::string mainVideo, double at,
                           QWidget* parent)
    : QDialog(parent), match_(match), angles_(match.angles), mainVideo_(std::move(mainVideo)),
      at_(at) {
    setObjectName("anglesDialog");
    setWindowTitle("試合のアングル");
    auto* l = new QVBoxLayout(this);
    auto* note = new QLabel(
        QString("本編の動画のほかに、別のカメラの動画を %1 つまで加えられます。").arg(kMaxAngles),
        this);
    note->setWordWrap(true);
    l->addWidget(note);
    list = new QTableWidget(0, 4, this);
    list->setObjectName("angleList");
    list->setHorizontalHeaderLabels({"名前", "ファイル", "ずれ", "時計の補正"});
    list->verticalHeader()->hide();
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    QHeaderView* header = list->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(File, QHeaderView::Stretch);
    connect(list, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        const size_t row = static_cast<size_t>(item->row());
        if (item->column() != Name || row >= angles_.size())
            return;
        // An empty name is not given: the cell shows the one kept.
        const std::string name = item->text().trimmed().toStdString();
        if (!name.empty())
            angles_[row].name = name;
        const QSignalBlocker quiet(list);
        item->setText(QString::fromStdString(angles_[row].name));
    });
    connect(list, &QTableWidget::itemSelectionChanged, this, [this] { showAngles(chosen()); });
    l->addWidget(list, 1);
    auto* row = new QHBoxLayout();
    const auto button = [&](const char* text, const char* id, const char* tip, auto act) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(id);
        b->setToolTip(tip);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, act);
        row->addWidget(b);
        return b;
    };
    add_ = button("追加…", "angleAdd", "アングルの動画を選んで加えます", [this] { addAngle(); });
    rename_ = button("名前変更", "angleRename", "選んだアングルの名前を変えます",
                     [this] { renameChosen(); });
    remove_ = button("削除", "angleRemove", "選んだアングルを試合から外します（動画は消えません）",
                     [this] { removeChosen(); });
    align_ = button("位置合わせ…", "angleAlign", "選んだアングルを本編に合わせます",
                    [this] { alignChosen(); });
    row->addStretch(1);
    l->addLayout(row);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("anglesOk");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("anglesCancel");
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        match_.angles = angles_;
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    l->addWidget(buttons);
    showAngles(angles_.empty() ? -1 : 0);
    resize(640, 300);
}

std::filesystem::path AnglesDialog::pathOf(const MatchAngle& angle) const {
    const std::filesystem::path file = std::filesystem::path(angle.file);
    return file.is_absolute() ? file : std::filesystem::path(mainVideo_).parent_path() / file;
}

int AnglesDialog::chosen() const {
    const QList<QTableWidgetItem*> items = list->selectedItems();
    return items.isEmpty() ? -1 : items.front()->row();
}

void AnglesDialog::showAngles(int chosen) {
    {
        const QSignalBlocker quiet(list);
        list->setRowCount(static_cast<int>(angles_.size()));
        for (int r = 0; r < list->rowCount(); ++r) {
            const MatchAngle& a = angles_[static_cast<size_t>(r)];
            const auto cell = [&](Column c, const QString& text, bool editable) {
                auto* item = new QTableWidgetItem(text);
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable |
                               (editable ? Qt::ItemIsEditable : Qt::NoItemFlags));
                list->setItem(r, c, item);
            };
            cell(Name, QString::fromStdString(a.name), true);
            cell(File, QString::fromStdString(a.file), false);
            cell(Offset, offsetText(a.offset), false);
            cell(Drift, driftText(a), false);
        }
        if (chosen >= 0 && chosen < list->rowCount())
            list->selectRow(chosen);
    }
    const bool one = this->chosen() >= 0;
    add_->setEnabled(angles_.size() < kMaxAngles);
    add_->setToolTip(add_->isEnabled() ? "アングルの動画を選んで加えます"
                                       : QString("アングルは %1 つまでです").arg(kMaxAngles));
    rename_->setEnabled(one);
    remove_->setEnabled(one);
    align_->setEnabled(one);
}

void AnglesDialog::addAngle() {
    if (angles_.size() >= kMaxAngles)
        return;
    DialogProvider::FilePanel panel{"アングルの動画を選択",
                                    {"mp4", "mov", "mts", "m2ts", "avi", "mkv"},
                                    {},
                                    folderOf(mainVideo_),
                                    "動画"};
    dialogProvider().openFilePanel(this, panel, [this](std::optional<std::string> path) {
        if (path)
            angleChosen(*path);
    });
}

void AnglesDialog::angleChosen(const std::string& path) {
    const std::filesystem::path file = normal(path);
    const std::string shown = file.filename().string();
    if (file == normal(mainVideo_)) {
        AlertBox("「" + shown + "」は本編の動画です。別のカメラの動画を選んでください。",
                 "お知らせ", "warning");
        return;
    }
    for (const MatchAngle& a : angles_)
        if (normal(pathOf(a)) == file) {
            AlertBox("「" + shown + "」はアングル「" + a.name + "」として加えてあります。",
                     "お知らせ", "warning");
            return;
        }
    if (!std::isfinite(videoFrameRate(file.string()))) {
        AlertBox("「" + shown + "」は動画として開けません。別のファイルを選んでください。",
                 "お知らせ", "warning");
        return;
    }
    // Kept relative to the session's folder when inside it: the folder can
    // move with its videos.
    const std::filesystem::path folder = normal(std::filesystem::path(mainVideo_).parent_path());
    const std::filesystem::path relative = file.lexically_relative(folder);
    const bool inside = !relative.empty() && *relative.begin() != "..";
    MatchAngle angle;
    angle.name = file.stem().string();
    angle.file = (inside ? relative : file).string();
    angles_.push_back(angle);
    showAngles(static_cast<int>(angles_.size()) - 1);
    // An angle is only of use aligned.
    alignChosen();
}

void AnglesDialog::renameChosen() {
    const int r = chosen();
    if (r < 0)
        return;
    list->setCurrentCell(r, Name);
    list->editItem(list->item(r, Name));
}

void AnglesDialog::removeChosen() {
    const int r = chosen();
    if (r < 0)
        return;
    angles_.erase(angles_.begin() + r);
    showAngles(std::min(r, static_cast<int>(angles_.size()) - 1));
}

void AnglesDialog::alignChosen() {
    const int r = chosen();
    if (r < 0)
        return;
    auto* dialog = new AngleAlignDialog(mainVideo_, pathOf(angles_[size_t(r)]).string(),
                                        angles_[size_t(r)], at_, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog, r] {
        if (size_t(r) >= angles_.size())
            return;
        angles_[size_t(r)] = dialog->angle();
        showAngles(r);
    });
    dialog->open();
}
