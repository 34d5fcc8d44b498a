#include "squads/SquadDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "SubViewClass/CustomAlert.h"
#include "platform/AtomicFile.h"

namespace {

enum Column { Played, Number, Name, Position };
const char* const kNoSquad = "（名簿なし）";

QString teamText(const MatchInfo& match, size_t team) {
    return match.teams[team].empty() ? (team == 0 ? "チームA" : "チームB")
                                     : QString::fromStdString(match.teams[team]);
}

QString idOf(const char* what, size_t team) {
    return QString(what) + (team == 0 ? "A" : "B");
}

} // namespace

std::filesystem::path squadFolder() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return std::filesystem::path(data.toStdString()) / "squads";
}

SquadDialog::SquadDialog(const MatchInfo& match, std::filesystem::path folder, QWidget* parent)
    : QDialog(parent), match_(match), folder_(std::move(folder)) {
    setObjectName("squadDialog");
    setWindowTitle("試合の選手");
    std::vector<std::string> problems;
    for (Squad& squad : listSquads(folder_, problems))
        entries_.push_back({squad, squad.name, false});
    auto* l = new QVBoxLayout(this);
    auto* teams = new QHBoxLayout();
    teams->addWidget(makeSide(0), 1);
    teams->addWidget(makeSide(1), 1);
    l->addLayout(teams, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("squadsOk");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("squadsCancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &SquadDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    l->addWidget(buttons);
    refreshChoosers();
    for (size_t t = 0; t < 2; ++t) {
        sides_[t].loose = match_.players[t];
        int which = -1;
        for (size_t i = 0; i < entries_.size(); ++i)
            if (!match_.squads[t].empty() && entries_[i].squad.name == match_.squads[t])
                which = static_cast<int>(i);
        showSquad(t, which);
    }
    // Room for a match day squad's names; never past the screen.
    QRect room(0, 0, 860, 620);
    if (const QScreen* screen = parent ? parent->screen() : nullptr)
        room = room.intersected(
            screen->availableGeometry().translated(-screen->availableGeometry().topLeft()));
    resize(room.size());
    if (!problems.empty())
        AlertBox("読めない選手名簿があります。\n" + problems.front(), "お知らせ", "warning");
}

QWidget* SquadDialog::makeSide(size_t team) {
    Side& side = sides_[team];
    auto* box = new QWidget(this);
    auto* l = new QVBoxLayout(box);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(new QLabel(teamText(match_, team), box));
    auto* top = new QHBoxLayout();
    side.chooser = new QComboBox(box);
    side.chooser->setObjectName(idOf("squadChooser", team));
    side.chooser->setToolTip("選手名簿");
    top->addWidget(side.chooser, 1);
    const auto button = [&](const char* text, const char* id, auto act) {
        auto* b = new QPushButton(text, box);
        b->setObjectName(idOf(id, team));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, act);
        return b;
    };
    top->addWidget(button("新規", "squadNew", [this, team] { newSquad(team); }));
    top->addWidget(button("CSV読込…", "squadImport", [this, team] { importSheet(team); }));
    l->addLayout(top);
    auto* nameRow = new QHBoxLayout();
    nameRow->addWidget(new QLabel("名簿の名前", box));
    side.name = new QLineEdit(box);
    side.name->setObjectName(idOf("squadName", team));
    connect(side.name, &QLineEdit::editingFinished, this, [this, team] { rename(team); });
    nameRow->addWidget(side.name, 1);
    l->addLayout(nameRow);
    side.table = new QTableWidget(0, 4, box);
    side.table->setObjectName(idOf("squadTable", team));
    side.table->setHorizontalHeaderLabels({"出場", "背番号", "氏名", "ポジション"});
    side.table->verticalHeader()->hide();
    QHeaderView* header = side.table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(Name, QHeaderView::Stretch);
    connect(side.table, &QTableWidget::itemChanged, this, [this, team] { countTicks(team); });
    l->addWidget(side.table, 1);
    auto* bottom = new QHBoxLayout();
    bottom->addWidget(button("選手を追加", "squadAddPlayer", [this, team] {
        QTableWidget* t = sides_[team].table;
        t->insertRow(t->rowCount());
        auto* tick = new QTableWidgetItem();
        tick->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        tick->setCheckState(Qt::Checked);
        t->setItem(t->rowCount() - 1, Played, tick);
        t->setCurrentCell(t->rowCount() - 1, Number);
        t->editItem(t->item(t->rowCount() - 1, Number));
    }));
    bottom->addWidget(button("選手を削除", "squadRemovePlayer", [this, team] {
        QTableWidget* t = sides_[team].table;
        if (t->currentRow() >= 0)
            t->removeRow(t->currentRow());
        countTicks(team);
    }));
    bottom->addStretch(1);
    side.count = new QLabel(box);
    side.count->setObjectName(idOf("playersCount", team));
    bottom->addWidget(side.count);
    l->addLayout(bottom);
    connect(side.chooser, &QComboBox::activated, this, [this, team](int item) {
        if (!keepTable(team)) {
            refreshChoosers();
            return;
        }
        showSquad(team, item - 1);
    });
    return box;
}

void SquadDialog::refreshChoosers() {
    for (Side& side : sides_) {
        const QSignalBlocker quiet(side.chooser);
        side.chooser->clear();
        side.chooser->addItem(kNoSquad);
        for (const Entry& e : entries_)
            side.chooser->addItem(QString::fromStdString(e.squad.name));
        side.chooser->setCurrentIndex(side.shown + 1);
    }
}

void SquadDialog::showSquad(size_t team, int which) {
    Side& side = sides_[team];
    side.shown = which;
    side.chooser->setCurrentIndex(which + 1);
    side.name->setEnabled(which >= 0);
    side.name->setText(which >= 0 ? QString::fromStdString(entries_[size_t(which)].squad.name)
                                  : QString());
    const std::vector<MatchPlayer>& players =
        which >= 0 ? entries_[size_t(which)].squad.players : side.loose;
    // The match's own players stay ticked; a squad newly chosen gives its
    // first players, a match day squad.
    std::vector<int> ticked;
    const bool fromMatch = which < 0 || entries_[size_t(which)].squad.name == match_.squads[team];
    for (size_t i = 0; i < players.size(); ++i)
        if (fromMatch ? playerNumbered(match_.players[team], players[i].number) != nullptr
                      : i < kMatchDaySquad)
            ticked.push_back(players[i].number);
    fillTable(team, players, ticked);
}

void SquadDialog::fillTable(size_t team, const std::vector<MatchPlayer>& players,
                            const std::vector<int>& ticked) {
    QTableWidget* t = sides_[team].table;
    const QSignalBlocker quiet(t);
    t->setRowCount(static_cast<int>(players.size()));
    for (int r = 0; r < t->rowCount(); ++r) {
        const MatchPlayer& p = players[size_t(r)];
        auto* tick = new QTableWidgetItem();
        tick->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        const bool on = std::find(ticked.begin(), ticked.end(), p.number) != ticked.end();
        tick->setCheckState(on ? Qt::Checked : Qt::Unchecked);
        t->setItem(r, Played, tick);
        t->setItem(r, Number, new QTableWidgetItem(QString::number(p.number)));
        t->setItem(r, Name, new QTableWidgetItem(QString::fromStdString(p.name)));
        t->setItem(r, Position, new QTableWidgetItem(QString::fromStdString(p.position)));
    }
    countTicks(team);
}

bool SquadDialog::readTable(size_t team, std::vector<MatchPlayer>& players,
                            std::vector<int>* ticked) {
    QTableWidget* t = sides_[team].table;
    const auto text = [t](int r, int c) {
        const QTableWidgetItem* item = t->item(r, c);
        return item ? item->text().trimmed() : QString();
    };
    players.clear();
    for (int r = 0; r < t->rowCount(); ++r) {
        bool number = false;
        const int n = text(r, Number).toInt(&number);
        const QString where = teamText(match_, team) + " " + QString::number(r + 1) + " 行目: ";
        if (!number || n < 0 || n > kMaxShirtNumber) {
            AlertBox((where + "背番号「" + text(r, Number) + "」は 0〜999 の数で書いてください")
                         .toStdString(),
                     "お知らせ", "warning");
            return false;
        }
        if (playerNumbered(players, n)) {
            AlertBox((where + "背番号 " + QString::number(n) + " が重複しています").toStdString(),
                     "お知らせ", "warning");
            return false;
        }
        players.push_back({n, text(r, Name).toStdString(), text(r, Position).toStdString()});
        if (ticked && t->item(r, Played) && t->item(r, Played)->checkState() == Qt::Checked)
            ticked->push_back(n);
    }
    return true;
}

bool SquadDialog::keepTable(size_t team) {
    Side& side = sides_[team];
    std::vector<MatchPlayer> players;
    if (!readTable(team, players, nullptr))
        return false;
    if (side.shown < 0) {
        side.loose = std::move(players);
        return true;
    }
    Entry& e = entries_[size_t(side.shown)];
    if (e.squad.players != players) {
        e.squad.players = std::move(players);
        e.changed = true;
    }
    return true;
}

std::string SquadDialog::freeName(const std::string& wanted) const {
    const auto taken = [this](const std::string& name) {
        return std::any_of(entries_.begin(), entries_.end(),
                           [&name](const Entry& e) { return e.squad.name == name; });
    };
    std::string name = wanted;
    for (int n = 2; taken(name); ++n)
        name = wanted + " " + std::to_string(n);
    return name;
}

void SquadDialog::newSquad(size_t team) {
    if (!keepTable(team))
        return;
    entries_.push_back({Squad{freeName("新しい名簿"), {}}, {}, true});
    refreshChoosers();
    showSquad(team, static_cast<int>(entries_.size()) - 1);
    sides_[team].name->setFocus();
    sides_[team].name->selectAll();
}

void SquadDialog::rename(size_t team) {
    Side& side = sides_[team];
    if (side.shown < 0)
        return;
    Entry& e = entries_[size_t(side.shown)];
    const std::string wanted = side.name->text().trimmed().toStdString();
    if (wanted == e.squad.name)
        return;
    // An empty or taken name is not given: the field shows the name kept.
    if (!wanted.empty() && freeName(wanted) == wanted) {
        e.squad.name = wanted;
        e.changed = true;
        refreshChoosers();
    }
    side.name->setText(QString::fromStdString(e.squad.name));
}

void SquadDialog::importSheet(size_t team) {
    DialogProvider::FilePanel panel;
    panel.title = "チームシートのCSVを選択";
    panel.extensions = {"csv"};
    dialogProvider().openFilePanel(this, panel, [this, team](std::optional<std::string> path) {
        if (!path)
            return;
        std::string text, error;
        if (!readWholeFile(*path, text, error)) {
            AlertBox("読み込めませんでした（" + error + "）", "失敗", "error");
            return;
        }
        const TeamSheet sheet = readTeamSheet(text);
        if (!sheet.error.empty()) {
            AlertBox(sheet.error, "失敗", "error");
            return;
        }
        std::vector<int> ticked;
        for (size_t i = 0; i < sheet.players.size() && i < kMatchDaySquad; ++i)
            ticked.push_back(sheet.players[i].number);
        fillTable(team, sheet.players, ticked);
        if (sheet.problemCount == 0)
            return;
        std::string note = "読み込めなかった行があります。";
        for (const std::string& p : sheet.problems)
            note += "\n" + p;
        if (sheet.problemCount > sheet.problems.size())
            note += "\nほか " + std::to_string(sheet.problemCount - sheet.problems.size()) + " 件";
        AlertBox(note, "お知らせ", "warning");
    });
}

void SquadDialog::countTicks(size_t team) {
    const QTableWidget* t = sides_[team].table;
    int n = 0;
    for (int r = 0; r < t->rowCount(); ++r)
        n += t->item(r, Played) && t->item(r, Played)->checkState() == Qt::Checked;
    sides_[team].count->setText(QString("出場 %1 人").arg(n));
}

void SquadDialog::accept() {
    MatchInfo after = match_;
    for (size_t t = 0; t < 2; ++t) {
        rename(t);
        std::vector<MatchPlayer> players;
        std::vector<int> ticked;
        if (!readTable(t, players, &ticked) || !keepTable(t))
            return;
        after.players[t].clear();
        for (const MatchPlayer& p : players)
            if (std::find(ticked.begin(), ticked.end(), p.number) != ticked.end())
                after.players[t].push_back(p);
        std::sort(after.players[t].begin(), after.players[t].end(),
                  [](const auto& a, const auto& b) { return a.number < b.number; });
        const int shown = sides_[t].shown;
        after.squads[t] = shown >= 0 ? entries_[size_t(shown)].squad.name : std::string();
    }
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    for (Entry& e : entries_) {
        if (!e.changed)
            continue;
        const auto file = squadFilePath(folder_, e.squad.name);
        if (const std::string error = writeFileAtomically(file, squadJson(e.squad));
            !error.empty()) {
            AlertBox("選手名簿を保存できませんでした（" + file.string() + ": " + error + "）",
                     "失敗", "error");
            return;
        }
        // A renamed squad leaves its old file.
        if (!e.savedName.empty() && squadFilePath(folder_, e.savedName) != file)
            std::filesystem::remove(squadFilePath(folder_, e.savedName), ec);
        e.savedName = e.squad.name;
        e.changed = false;
    }
    match_ = std::move(after);
    QDialog::accept();
}
