// The question of teams and outside codes before an import, and the bar of
// a file being read.
#include "import/ImportDialog.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const char* const kTeamA = "チームA";
const char* const kTeamB = "チームB";

} // namespace

// The codes and their teams, the team column editable (0 A, 1 B).
class ImportDialog::TeamModel : public QAbstractTableModel {
public:
    TeamModel(const std::vector<std::string>& codes, QObject* parent)
        : QAbstractTableModel(parent), codes_(codes), teamA_(codes.size(), true) {}
    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(codes_.size());
    }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 2; }
    QVariant data(const QModelIndex& index, int role) const override {
        const auto row = static_cast<size_t>(index.row());
        if (!index.isValid() || row >= codes_.size())
            return {};
        if (role == Qt::DisplayRole)
            return index.column() == 0 ? QString::fromStdString(codes_[row])
                                       : QString(teamA_[row] ? kTeamA : kTeamB);
        if (role == Qt::EditRole && index.column() == 1)
            return teamA_[row] ? 0 : 1;
        return {};
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        return section == 0 ? QString("コード") : QString("チーム");
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        Qt::ItemFlags f = QAbstractTableModel::flags(index);
        return index.column() == 1 ? f | Qt::ItemIsEditable : f;
    }
    bool setData(const QModelIndex& index, const QVariant& value, int role) override {
        if (role != Qt::EditRole || index.column() != 1 || !index.isValid())
            return false;
        teamA_[static_cast<size_t>(index.row())] = value.toInt() == 0;
        emit dataChanged(index, index);
        return true;
    }
    void setAll(bool teamA) {
        std::fill(teamA_.begin(), teamA_.end(), teamA);
        if (!codes_.empty())
            emit dataChanged(index(0, 1), index(rowCount({}) - 1, 1));
    }
    const std::vector<bool>& teams() const { return teamA_; }

private:
    const std::vector<std::string> codes_;
    std::vector<bool> teamA_;
};

namespace {

// The team cell's editor: a pop-up that opens at once, the choice taken as
// soon as it is made.
class TeamDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex&) const override {
        auto* combo = new QComboBox(parent);
        combo->setObjectName("teamChoice");
        combo->addItems({kTeamA, kTeamB});
        auto* self = const_cast<TeamDelegate*>(this);
        connect(combo, &QComboBox::activated, self, [self, combo] {
            emit self->commitData(combo);
            emit self->closeEditor(combo);
        });
        QTimer::singleShot(0, combo, &QComboBox::showPopup);
        return combo;
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        static_cast<QComboBox*>(editor)->setCurrentIndex(index.data(Qt::EditRole).toInt());
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        model->setData(index, static_cast<QComboBox*>(editor)->currentIndex(), Qt::EditRole);
    }
};

} // namespace

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
        teams_ = new TeamModel(teamless, this);
        auto* all = new QHBoxLayout;
        auto* allA = new QPushButton("全部をチームA", this);
        auto* allB = new QPushButton("全部をチームB", this);
        allA->setObjectName("allTeamA");
        allB->setObjectName("allTeamB");
        connect(allA, &QPushButton::clicked, this, [this] { teams_->setAll(true); });
        connect(allB, &QPushButton::clicked, this, [this] { teams_->setAll(false); });
        all->addWidget(allA);
        all->addWidget(allB);
        all->addStretch(1);
        l->addLayout(all);
        auto* table = new QTableView(this);
        table->setObjectName("teamlessCodes");
        table->setModel(teams_);
        table->setItemDelegateForColumn(1, new TeamDelegate(table));
        table->setSelectionMode(QAbstractItemView::SingleSelection);
        table->setEditTriggers(QAbstractItemView::EditKeyPressed);
        table->verticalHeader()->hide();
        table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
        table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Fixed);
        table->setColumnWidth(1, 110);
        table->setMinimumHeight(200);
        // One click on a team opens its choice.
        connect(table, &QTableView::clicked, table, [table](const QModelIndex& index) {
            if (index.column() == 1)
                table->edit(index);
        });
        l->addWidget(table, 1);
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
        list->setUniformItemSizes(true);
        QStringList names;
        names.reserve(static_cast<qsizetype>(outside.size()));
        for (const std::string& code : outside)
            names.push_back(QString::fromStdString(code));
        list->addItems(names);
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
    return teams_ ? teams_->teams() : std::vector<bool>{};
}

bool ImportDialog::addToCopy() const {
    return addToCopy_ && addToCopy_->isChecked();
}

ImportProgress::ImportProgress(const QString& text, QWidget* window) : QFrame(window) {
    setObjectName("importProgress");
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    auto* l = new QHBoxLayout(this);
    auto* label = new QLabel(text, this);
    label->setObjectName("importProgressText");
    l->addWidget(label, 1);
    bar = new QProgressBar(this);
    bar->setObjectName("importProgressBar");
    bar->setTextVisible(false);
    bar->setFixedWidth(160);
    l->addWidget(bar);
    cancel = new QPushButton("キャンセル", this);
    cancel->setObjectName("importReadCancel");
    cancel->setFocusPolicy(Qt::NoFocus);
    l->addWidget(cancel);
    setFocusPolicy(Qt::NoFocus);
    window->installEventFilter(this);
    place();
    raise();
}

bool ImportProgress::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parent() && event->type() == QEvent::Resize)
        place();
    return QFrame::eventFilter(watched, event);
}

void ImportProgress::place() {
    // Bottom centre, above the row of buttons that ends the screens.
    const QWidget* w = parentWidget();
    const int width = std::min(std::max(sizeHint().width(), 420), w->width() - 24);
    const int height = sizeHint().height();
    setGeometry((w->width() - width) / 2, w->height() - height - 56, width, height);
}
