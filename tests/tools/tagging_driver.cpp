// Drives the real application for scripts/kill-during-tagging: opens VIDEO
// with the real player, chooses to restore when asked about unsaved changes,
// prints the restored tags, then clicks tag buttons at a steady pace and
// prints every recorded tag with the moment its press returned, until killed
// (or PRESSES presses are made). Lines, each flushed:
//   asked TITLE MESSAGE | R INDEX NAME | viewonly | ready COUNT |
//   T INDEX NAME MONOTONIC_NS
// "viewonly" says another process records the video: presses then record
// nothing and print no T line.
// With RUCKTAG_DRIVER_WINDOW=1 it codes by keyboard with a window of its own
// (written to $XDG_CONFIG_HOME and chosen in the pop-up): point and lasting
// codes by their keys, label keys on the tag just recorded, and shirt numbers
// typed after a code key. R and T lines then end with the tag's STATE (END
// LABELS: "-", "open" or the end in ms; "-" or the labels as group=text
// joined by ";", spaces as "_"), and a tag whose state changed after it was
// recorded gets a line
//   S INDEX STATE MONOTONIC_NS
// Every fourth press it also takes one step of the match, bracketed by P and
// D lines like a press: every other step chooses the teams' squads (two club
// squads of its own in $XDG_DATA_HOME, swapped) in the players dialog, the
// others mark the periods (前半 begun and ended, 後半 begun and ended, by the
// period buttons or, coding by keyboard, the keys [ and ]; then 後半's end a
// frame on and back, and 後半 removed: a cycle led by the match as restored):
//   RM MATCH (the match restored, before ready) | M MATCH MONOTONIC_NS
// MATCH is the periods as START-END in ms ("open" for no end) joined by ","
// ("-" for none), then "/" and the number of players of each team.
// With RUCKTAG_SHOT_DIR set (under a display), the restore question is the
// real message box, photographed and answered with a click on "復元する", and the
// restored window is photographed too.
// With RUCKTAG_DRIVER_LIVE=1 VIDEO is a new live recording of ffmpeg's test
// picture, coded once it opens.
// Usage: tagging_driver VIDEO [INTERVAL_MS [PRESSES]]
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QKeyEvent>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>

#include "MainViewController.h"
#include "SubViewClass/Buttons.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/CustomTableView.h"
#include "SubViewClass/MainWindow.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewController/EditViewController.h"
#include "codewindow/CodeWindow.h"
#include "codewindow/CodeWindowFile.h"
#include "live/LiveRecording.h"
#include "live/NewRecordingDialog.h"
#include "match/MatchPanel.h"
#include "match/Squad.h"
#include "player/Player.h"
#include "squads/SquadDialog.h"

namespace {

long long monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

QString shotDir;

// Six codes, two of them lasting and exclusive, and two label groups.
CodeWindow keyboardWindow() {
    CodeWindow w;
    w.name = "キー入力";
    const char* names[] = {"スクラム", "ラインアウト", "キック", "トライ", "攻撃", "防御"};
    // Letters: digits are shirt numbers.
    const char* keys[] = {"E", "R", "T", "Y", "Q", "W"};
    for (size_t i = 0; i < 6; ++i) {
        Code c;
        c.name = names[i];
        c.color = i < 4 ? "#f08000" : "#2060c0";
        c.keyA = keys[i];
        c.keyB = std::string("Shift+") + keys[i];
        if (i >= 4) {
            c.mode = CodeMode::Duration;
            c.group = "局面";
        }
        w.codes.push_back(c);
    }
    w.labels.push_back({"結果", {"成功", "失敗"}, {"Z", "X"}});
    w.labels.push_back({"位置", {"自陣", "敵陣"}, {"C", "V"}});
    return w;
}

std::string stateOf(const TagRowData& tag) {
    std::string end = tag.end.state == TagEnd::State::None ? "-"
                      : tag.end.state == TagEnd::State::Open
                          ? "open"
                          : std::to_string(std::lround(tag.end.time * 1000.0));
    std::string labels;
    for (const auto& [g, t] : tag.labels)
        labels += (labels.empty() ? "" : ";") + g + "=" + t;
    std::replace(labels.begin(), labels.end(), ' ', '_');
    return end + " " + (labels.empty() ? "-" : labels);
}

std::string matchState(const MatchInfo& match) {
    std::string text;
    for (const MatchPeriod& p : match.periods)
        text += (text.empty() ? "" : ",") + std::to_string(std::lround(p.start * 1000.0)) + "-" +
                (p.open() ? "open" : std::to_string(std::lround(p.end * 1000.0)));
    return (text.empty() ? "-" : text) + "/" + std::to_string(match.players[0].size()) + "/" +
           std::to_string(match.players[1].size());
}

// Two club squads of different sizes: a swap shows in the players' count.
void writeSquads() {
    const char* names[] = {"山田", "田中", "佐藤", "鈴木", "高橋", "伊藤", "渡辺"};
    std::filesystem::create_directories(squadFolder());
    for (const auto& [club, size] : {std::pair{"東京", 23}, std::pair{"大阪", 15}}) {
        Squad squad{club, {}};
        for (int n = 1; n <= size; ++n)
            squad.players.push_back({n, names[n % 7], n <= 8 ? "FW" : "BK"});
        QFile file(QString::fromStdString(squadFilePath(squadFolder(), club).string()));
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray::fromStdString(squadJson(squad)));
    }
}

// Opens the players dialog with its button, swaps the teams' squads in its
// choosers and clicks OK.
void chooseSquads(MainViewController* main) {
    const MatchInfo& match = main->tagDataModel.match;
    const bool swap = match.squads[0] == "東京";
    QTest::mouseClick(main->editViewController->codePanel->playersButton, Qt::LeftButton);
    SquadDialog* dialog = nullptr;
    for (SquadDialog* d : main->window()->findChildren<SquadDialog*>())
        if (d->isVisible())
            dialog = d;
    if (!dialog)
        return;
    const char* clubs[] = {"東京", "大阪"};
    for (const auto& [side, club] :
         {std::pair{"squadChooserA", clubs[swap]}, std::pair{"squadChooserB", clubs[!swap]}}) {
        auto* chooser = dialog->findChild<QComboBox*>(side);
        const int item = chooser->findText(club);
        chooser->setCurrentIndex(item);
        emit chooser->activated(item);
    }
    QTest::mouseClick(dialog->findChild<QAbstractButton*>("squadsOk"), Qt::LeftButton);
}

// One step of the periods through the 期間 row, clicked as a person would
// (or, with `keys`, begun and ended by [ and ] sent there).
void markPeriods(MainViewController* main, QWidget* keys) {
    MatchPanel* panel = main->editViewController->matchPanel;
    const std::vector<MatchPeriod>& periods = main->tagDataModel.match.periods;
    Player* player = main->MediaPlayer->player();
    const auto seek = [player](double t) {
        player->seekExact(t);
        (void)QTest::qWaitFor([&] { return std::abs(player->currentTime() - t) < 0.1; }, 2000);
    };
    const auto click = [panel](const char* id) {
        if (auto* b = panel->findChild<QAbstractButton*>(id))
            QTest::mouseClick(b, Qt::LeftButton);
    };
    const auto mark = [&](bool start) {
        if (keys)
            QTest::keyClick(keys, start ? Qt::Key_BracketLeft : Qt::Key_BracketRight);
        else
            click(start ? "periodStart" : "periodEnd");
    };
    static int moved = 0;
    // 前半 1-3 s, 後半 from 4 s to 7 s.
    if (periods.empty() || (periods.size() == 1 && !periods.back().open())) {
        seek(periods.empty() ? 1.0 : 4.0);
        mark(true);
    } else if (periods.back().open()) {
        seek(periods.size() == 1 ? 3.0 : 7.0);
        mark(false);
    } else {
        panel->periodList->setCurrentIndex(static_cast<int>(periods.size()) - 1);
        panel->periodEdge->setChecked(true);
        click(moved == 0 ? "periodForwardFrame" : moved == 1 ? "periodBackFrame" : "periodRemove");
        moved = (moved + 1) % 3;
    }
}

// One step of the match and its M line.
void markMatch(MainViewController* main, QWidget* keys) {
    static int step = 0;
    std::printf("P\n");
    std::fflush(stdout);
    if (step++ % 2)
        chooseSquads(main);
    else
        markPeriods(main, keys);
    std::printf("M %s %lld\nD\n", matchState(main->tagDataModel.match).c_str(), monotonicNs());
    std::fflush(stdout);
}

void shoot(const QString& name) {
    QApplication::processEvents();
    QGuiApplication::primaryScreen()->grabWindow(0).save(shotDir + "/" + name + ".png");
    std::printf("saved %s/%s.png\n", qPrintable(shotDir), qPrintable(name));
}

// Restores when asked to, notes every other box and takes its default.
class Answers : public DialogProvider {
public:
    explicit Answers(DialogProvider& real) : real_(real) {}
    int showBox(Kind kind, const std::string& message, const std::string& title,
                const std::string& style, const std::vector<std::string>& buttons) override {
        std::string oneLine = message;
        std::replace(oneLine.begin(), oneLine.end(), '\n', ' ');
        std::printf("asked %s %s\n", title.c_str(), oneLine.c_str());
        std::fflush(stdout);
        if (!shotDir.isEmpty() && title == "復元") {
            QTimer::singleShot(1000, [] {
                shoot("recovery-question");
                if (QWidget* box = QApplication::activeModalWidget())
                    for (QAbstractButton* b : box->findChildren<QAbstractButton*>())
                        if (b->text() == "復元する")
                            QTest::mouseClick(b, Qt::LeftButton);
            });
            return real_.showBox(kind, message, title, style, buttons);
        }
        return 0; // restore, or the only button of a notice
    }
    void openFilePanel(QWidget*, const FilePanel&, PathCallback done) override { done({}); }
    void saveFilePanel(QWidget*, const FilePanel&, PathCallback done) override { done({}); }

private:
    DialogProvider& real_;
};

// Types the shirt number of a player of the team of the tag just recorded,
// as the analyst does after its code key: numbers that need no wait for a
// second digit (3 to 9, or two digits).
void typeShirtNumber(MainViewController* main, QWidget* target, unsigned pick) {
    const TagRowData& tag = *main->tagDataModel.data.back();
    const std::vector<MatchPlayer>& players = main->tagDataModel.match.players[tag.team ? 0 : 1];
    std::vector<int> numbers;
    for (const MatchPlayer& p : players)
        if (p.number >= 3 && p.number <= 99)
            numbers.push_back(p.number);
    if (numbers.empty())
        return;
    const int number = numbers[pick % numbers.size()];
    if (number >= 10)
        QTest::keyClick(target, Qt::Key(Qt::Key_0 + number / 10));
    QTest::keyClick(target, Qt::Key(Qt::Key_0 + number % 10));
}

// Codes by keys sent where a click on the tag list left the focus: a code key
// (team B with Shift), and after a recorded tag sometimes a label key.
int codeByKeyboard(MainViewController* main, int interval, long presses) {
    EditViewController* edit = main->editViewController;
    const int chosen = edit->codePanel->codeWindowPopUp->findText("キー入力");
    if (chosen < 0)
        return 4;
    edit->codePanel->codeWindowPopUp->setCurrentIndex(chosen);
    emit edit->codePanel->codeWindowPopUp->activated(chosen);
    const Qt::Key codeKeys[] = {Qt::Key_E, Qt::Key_R, Qt::Key_T, Qt::Key_Y, Qt::Key_Q, Qt::Key_W};
    const Qt::Key labelKeys[] = {Qt::Key_Z, Qt::Key_X, Qt::Key_C, Qt::Key_V};
    std::map<int64_t, std::string> shown; // the state last printed of each tag
    std::set<int64_t> open;               // restored open ones too: a code of their group ends them
    for (const auto& tag : main->tagDataModel.data) {
        shown[tag->index] = stateOf(*tag);
        if (tag->end.state == TagEnd::State::Open)
            open.insert(tag->index);
    }
    unsigned seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7fff;
    };
    for (long n = 0; presses < 0 || n < presses; ++n) {
        if (!edit->tagTableData.empty() && !QApplication::focusWidget()) {
            const QRect r =
                edit->tagTableView->visualRect(edit->tagTableView->model()->index(0, 4));
            QTest::mouseClick(edit->tagTableView->viewport(), Qt::LeftButton, {}, r.center());
        }
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget()
                                                      : edit->tagTableView->viewport();
        const size_t before = main->tagDataModel.data.size();
        // A kill between the press and its lines below leaves a change the
        // checker never saw: it is told a press is under way.
        std::printf("P\n");
        std::fflush(stdout);
        const bool label = before > 0 && next() % 3 == 0;
        if (label)
            QTest::keyClick(target, labelKeys[next() % 4]);
        else
            QTest::keyClick(target, codeKeys[next() % 6],
                            next() % 2 ? Qt::ShiftModifier : Qt::NoModifier);
        if (!label && main->tagDataModel.data.size() > before && next() % 2)
            typeShirtNumber(main, target, next());
        const long long now = monotonicNs();
        const auto& data = main->tagDataModel.data;
        for (size_t i = before; i < data.size(); ++i) {
            std::printf("T %lld %s %lld %s\n", static_cast<long long>(data[i]->index),
                        data[i]->name.c_str(), now, stateOf(*data[i]).c_str());
            shown[data[i]->index] = stateOf(*data[i]);
        }
        // Labels go on the chosen tag (the first after a click there gave
        // the focus back), mostly a recent one; ends on open ones: those are
        // looked at.
        const size_t from = before > 8 ? before - 8 : 0;
        for (size_t i = 0; i < data.size(); ++i) {
            if (i < from && !open.count(data[i]->index) &&
                data[i]->index != edit->tagTableSelectedRowIndex)
                continue;
            const std::string state = stateOf(*data[i]);
            if (data[i]->end.state == TagEnd::State::Open)
                open.insert(data[i]->index);
            else
                open.erase(data[i]->index);
            if (std::string& last = shown[data[i]->index]; last != state) {
                last = state;
                std::printf("S %lld %s %lld\n", static_cast<long long>(data[i]->index),
                            state.c_str(), now);
            }
        }
        std::printf("D\n");
        std::fflush(stdout);
        if (n % 4 == 3 && !main->isViewOnly())
            markMatch(main, target);
        QTest::qWait(interval);
    }
    main->tagJournal.flush();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    if (argc < 2)
        return 2;
    const int interval = argc > 2 ? std::atoi(argv[2]) : 25;
    const long presses = argc > 3 ? std::atol(argv[3]) : -1;
    shotDir = qEnvironmentVariable("RUCKTAG_SHOT_DIR");
    if (!shotDir.isEmpty()) {
        QFont::insertSubstitutions("Hiragino Sans GB", {"Noto Sans CJK JP"});
        QApplication::setFont(QFont("Hiragino Sans GB"));
    }
    Answers answers(dialogProvider());
    setDialogProvider(&answers);

    // The window's file is in place before the screen lists the folder.
    const bool keyboard = qEnvironmentVariable("RUCKTAG_DRIVER_WINDOW") == "1";
    const bool live = qEnvironmentVariable("RUCKTAG_DRIVER_LIVE") == "1";
    writeSquads();
    if (keyboard) {
        std::filesystem::create_directories(codeWindowFolder());
        if (!writeCodeWindowFile(codeWindowFolder() / "keyboard.json", keyboardWindow()).empty())
            return 3;
    }
    MainWindow window;
    MainViewController* main = window.mainViewController();
    window.fitMainView(main->size());
    window.move(20, 20);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    EditViewController* edit = main->editViewController;

    bool opened = false;
    if (live) {
        QObject::connect(edit->liveRecording, &LiveRecording::opened, [&] { opened = true; });
        edit->liveRecording->record({NewRecordingDialog::kTestPicture, "lavfi", {}}, argv[1]);
    } else {
        main->openVideo(argv[1], [&] { opened = true; });
    }
    if (!QTest::qWaitFor([&] { return opened; }, 60000))
        return 1;
    for (const auto& tag : main->tagDataModel.data)
        std::printf("R %lld %s%s\n", static_cast<long long>(tag->index), tag->name.c_str(),
                    keyboard ? (" " + stateOf(*tag)).c_str() : "");
    std::printf("RM %s\n", matchState(main->tagDataModel.match).c_str());
    if (main->isViewOnly())
        std::printf("viewonly\n");
    std::printf("ready %zu\n", main->tagDataModel.data.size());
    std::fflush(stdout);
    if (!shotDir.isEmpty() && !main->tagDataModel.data.empty()) {
        QTest::qWait(1500);
        shoot("recovered");
    }

    if (keyboard)
        return codeByKeyboard(main, interval, presses);
    size_t next = 0;
    for (long n = 0; presses < 0 || n < presses; ++n) {
        TagButton* b = edit->codePanel->tagButtons[next++ % edit->codePanel->tagButtons.size()];
        const size_t before = main->tagDataModel.data.size();
        QTest::mouseClick(b, Qt::LeftButton);
        if (main->tagDataModel.data.size() > before) {
            const auto& tag = main->tagDataModel.data.back();
            std::printf("T %lld %s %lld\n", static_cast<long long>(tag->index), tag->name.c_str(),
                        monotonicNs());
            std::fflush(stdout);
        }
        if (n % 4 == 3 && !main->isViewOnly())
            markMatch(main, nullptr);
        QTest::qWait(interval);
    }
    main->tagJournal.flush();
    return 0;
}
