// Drives the real application on a video and saves screenshots of what a
// person sees, one tour a run (RUCKTAG_TOUR, default "main"; kTours lists
// each tour's shots, and docs/screenshots.tsv which of them the docs show):
//   main      the edit screen with tags, clips and the pointer over a tag
//             button and a row; the 交換 menu and the import question; play
//             mode and the tally; the zoomed timeline; a question; the clip
//             and highlight export windows and their reports.
//   screens   the main tour up to the zoomed timeline (no exports), for the
//             screens at each screen size.
//   window    (or RUCKTAG_TOUR_WINDOW=1) the match coded by keyboard with a
//             window of 25 codes (some lasting) and two label groups: the edit
//             screen with labels, the play screen with the bars of the lasting
//             tags, the tally as a label group's matrix.
//   editor    the code window editor open on that window.
//   codes40   the edit screen with a window of 40 codes per team.
//   viewonly  a second process on a video that this one records.
//   recovery  the restore question after a process was killed while it
//             recorded.
//   match     a match with its teams, periods and squads: the squad
//             dialog, the edit screen in match time with players, the tally
//             by period and a page of the match report.
//   library   a season library of two matches in OUT_DIR: the window after a
//             search, a result opened by a double click, and 連続再生 across
//             the two matches.
//   playlists that season's playlist with notes: the publish dialog, and the
//             playlist panel published to FW with its link and QR code.
//   angles-dialog  a second camera added to the match and aligned: the two
//             views with a moment marked and the offset proposed by sound.
//   angles    the match with a second camera, the two side by side while it
//             is coded by keyboard.
// Journals, code windows and settings stay in scratch folders. Run under a
// display (scripts/screenshots uses Xvfb).
// Usage: screenshot_tour VIDEO OUT_DIR | --list | --help
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHelpEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <utility>

#include "tour.h"

#include "ClipVideoConvertor/ClipViewController.h"
#include "MainViewController.h"
#include "SubModuleClass/TagFileManager.h"
#include "SubViewClass/Buttons.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/CustomTableView.h"
#include "SubViewClass/MainWindow.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewController/EditViewController.h"
#include "SubViewController/PlayViewController.h"
#include "codewindow/CodeWindow.h"
#include "codewindow/CodeWindowFile.h"
#include "coding/CodeWindowEditor.h"
#include "player/Player.h"
#include "season/LibraryWindow.h"
#include "tags/TableModels.h"
#include "tags/TallyTableModel.h"
#include "timeline/TagTimeline.h"

namespace {

QString outDir;

struct Tour {
    const char* name;
    std::vector<QString> shots;
};

// Every shot each tour takes, and no other: a run that misses one or takes
// one not listed fails. tests/tools/docs_screenshots_test.py reads this table.
const std::vector<Tour> kTours = {
    {"main",
     {"edit-hover-button", "edit-hover-row", "edit-exchange-menu", "import-dialog", "play-mode",
      "play-tally-count", "edit-timeline-zoomed", "dialog-delete", "clip-done", "clip-progress",
      "play-sequence", "play-sequence-next", "highlight-done", "highlight-progress"}},
    {"screens",
     {"edit-hover-button", "edit-hover-row", "edit-exchange-menu", "import-dialog", "play-mode",
      "play-tally-count", "edit-timeline-zoomed"}},
    {"window", {"labels-edit", "durations-play", "labels-tally"}},
    {"editor", {"code-window-editor"}},
    {"codes40", {"edit-40-codes"}},
    {"viewonly", {"view-only"}},
    {"recovery", {"recovery-question"}},
    {"library",
     {"library-window", "library-open-at-tag", "library-sequence", "library-sequence-main"}},
    {"match", {"squad-dialog", "match-edit", "match-tally", "report-page"}},
    {"playlists", {"playlist-publish", "playlist-panel"}},
    {"angles-dialog", {"angles-dialog"}},
    {"angles", {"angles-side-by-side"}},
    {"live", {"live-dialog", "live-coding"}},
    // The second process of viewonly and recovery.
    {"hold", {}},
};

const Tour* tour = nullptr;

int failed(const char* why) {
    std::fprintf(stderr, "screenshot_tour: %s\n", why);
    return 1;
}
std::set<QString> taken;
QStringList strayShots;

void shoot(const QString& name) {
    QApplication::processEvents();
    const auto& listed = tour->shots;
    if (std::find(listed.begin(), listed.end(), name) == listed.end()) {
        strayShots << name;
        return;
    }
    QGuiApplication::primaryScreen()->grabWindow(0).save(outDir + "/" + name + ".png");
    taken.insert(name);
    std::printf("saved %s/%s.png\n", qPrintable(outDir), qPrintable(name));
    std::fflush(stdout);
}

// Real message boxes, photographed and then answered with their default
// button; save panels answered with a file in the output folder.
class TourDialogs : public DialogProvider {
public:
    explicit TourDialogs(DialogProvider& real) : real_(real) {}
    int showBox(Kind kind, const std::string& message, const std::string& title,
                const std::string& style, const std::vector<std::string>& buttons) override {
        const QString name = shotName;
        QTimer::singleShot(700, [name] {
            if (!name.isEmpty())
                shoot(name);
            if (QWidget* box = QApplication::activeModalWidget())
                QTest::keyClick(box, Qt::Key_Return);
        });
        shotName.clear();
        return real_.showBox(kind, message, title, style, buttons);
    }
    // A folder panel answers with `folderAnswer`, a file panel with
    // `fileAnswer` once, else with nothing.
    void openFilePanel(QWidget*, const FilePanel& panel, PathCallback done) override {
        if (panel.chooseFolder && !folderAnswer.empty())
            done(folderAnswer);
        else if (!panel.chooseFolder && !fileAnswer.empty())
            done(std::exchange(fileAnswer, {}));
        else
            done({});
    }
    void saveFilePanel(QWidget*, const FilePanel& panel, PathCallback done) override {
        const QString ext = panel.extensions.value(0, QStringLiteral("mp4"));
        done((outDir + "/" + panel.proposedName + "." + ext).toStdString());
    }
    QString shotName;
    std::string folderAnswer;
    std::string fileAnswer;

private:
    DialogProvider& real_;
};

bool chooseWindow(EditViewController* edit, const char* name) {
    const int which = edit->codePanel->codeWindowPopUp->findText(name);
    if (which < 0)
        return false;
    edit->codePanel->codeWindowPopUp->setCurrentIndex(which);
    emit edit->codePanel->codeWindowPopUp->activated(which);
    return true;
}

bool openAndWait(MainViewController* main, const std::string& video) {
    auto opened = std::make_shared<bool>(false);
    main->openVideo(video, [opened] { *opened = true; });
    return QTest::qWaitFor([opened] { return *opened; }, 20000);
}

void clickTagButton(EditViewController* edit, const char* id) {
    for (TagButton* b : edit->codePanel->tagButtons)
        if (b->objectName() == id)
            QTest::mouseClick(b, Qt::LeftButton);
}

// 25 codes per team, keys 1…0 and F…O for team A, with Shift for B; the
// phases last and exclude each other.
CodeWindow tourWindow() {
    CodeWindow w;
    w.name = "15人制 詳細";
    const char* names[] = {
        "ラック",         "モール",         "タックル",     "ミスタックル", "キック",
        "ハイボール",     "スクラム",       "ラインアウト", "キックオフ",   "ドロップアウト",
        "ターンオーバー", "ペナルティ",     "FK",           "ノックオン",   "スローフォワード",
        "トライ",         "ゴール",         "PG",           "DG",           "選手交代",
        "22m進入",        "ラインブレイク", "攻撃",         "防御",         "チェック"};
    const char* colours[] = {"#3f8a3f", "#3f8a3f", "#2e7d9a", "#2e7d9a", "#c08a20",
                             "#c08a20", "#e06020", "#e06020", "#e06020", "#e06020",
                             "#408bff", "#b03030", "#b03030", "#b03030", "#b03030",
                             "#8b408b", "#8b408b", "#8b408b", "#8b408b", "#707070",
                             "#20a0a0", "#20a0a0", "#d04080", "#4060d0", "#ff9d80"};
    const char keys[] = "1234567890FGHJKLPQWERTYUI";
    for (size_t i = 0; i < 25; ++i) {
        Code c;
        c.name = names[i];
        c.color = colours[i];
        c.keyA = std::string(1, keys[i]);
        c.keyB = "Shift+" + c.keyA;
        if (i == 22 || i == 23) {
            c.mode = CodeMode::Duration;
            c.group = "局面";
        }
        w.codes.push_back(c);
    }
    w.labels.push_back({"結果", {"成功", "失敗"}, {"Z", "X"}});
    w.labels.push_back({"エリア", {"自陣22m", "自陣", "敵陣", "敵陣22m"}, {"C", "V", "B", "N"}});
    return w;
}

// Two minutes coded by keys where a click on the list left the focus.
int windowTour(MainWindow& window, const std::string& video) {
    MainViewController* main = window.mainViewController();
    EditViewController* edit = main->editViewController;
    PlayViewController* play = main->playViewController;
    if (!chooseWindow(edit, "15人制 詳細") || !openAndWait(main, video))
        return failed("the 25-code window or the video did not open");
    Player* player = main->MediaPlayer->player();
    struct Step {
        double at;
        Qt::Key key;
        bool teamB;
    };
    std::mt19937 rng(5);
    std::vector<Step> steps;
    bool attackA = true;
    steps.push_back({1, Qt::Key_Y, false}); // 攻撃 of A starts
    for (double t = 3; t < 116; t += 2.5 + (rng() % 30) / 10.0) {
        const Qt::Key codes[] = {Qt::Key_1, Qt::Key_1, Qt::Key_3, Qt::Key_3, Qt::Key_5,
                                 Qt::Key_7, Qt::Key_8, Qt::Key_F, Qt::Key_J, Qt::Key_T};
        steps.push_back({t, codes[rng() % 10], !attackA});
        if (rng() % 4 == 0)
            steps.push_back({t + 0.2, rng() % 2 ? Qt::Key_Z : Qt::Key_X, false});
        if (rng() % 5 == 0)
            steps.push_back({t + 0.3, rng() % 2 ? Qt::Key_B : Qt::Key_V, false});
        if (rng() % 6 == 0) { // possession changes: the other team's phase
            // The attack ends at its second press; the other team's starts.
            steps.push_back({t + 0.5, Qt::Key_Y, !attackA});
            attackA = !attackA;
            steps.push_back({t + 0.6, Qt::Key_Y, !attackA});
        }
    }
    bool focused = false;
    for (const Step& s : steps) {
        player->seekExact(s.at);
        QTest::qWait(60);
        if (!focused && !edit->tagTableData.empty()) {
            CustomTableView* table = edit->tagTableView;
            QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                              table->visualRect(table->model()->index(0, 4)).center());
            focused = true;
        }
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget()
                                                      : static_cast<QWidget*>(main->MediaPlayer);
        QTest::keyClick(target, s.key, s.teamB ? Qt::ShiftModifier : Qt::NoModifier);
    }
    player->seekExact(60);
    QTest::qWait(1500);
    player->pause();
    QTest::qWait(300);
    shoot("labels-edit");
    main->onMenuSelectPlayMode();
    QTest::qWait(500);
    CustomTableView* list = play->tagTableView;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(5, 3)).center());
    QTest::qWait(1200);
    player->pause();
    QTest::qWait(300);
    shoot("durations-play");
    // The tally as the matrix of a label group.
    play->tallyLabelPopUp->setCurrentIndex(1);
    emit play->tallyLabelPopUp->activated(1);
    QTest::qWait(300);
    shoot("labels-tally");
    return 0;
}

// 40 codes per team in eight colour groups, without keys.
CodeWindow fortyCodes() {
    CodeWindow w;
    w.name = "40コード";
    const char* names[] = {"ラック",
                           "モール",
                           "タックル",
                           "キック",
                           "UE",
                           "キックオフ",
                           "スクラム",
                           "ラインアウト",
                           "ドロップアウト",
                           "キックリターン",
                           "ターンオーバー",
                           "クイックスタート",
                           "トライ",
                           "PG",
                           "DG",
                           "ペナルティ",
                           "交代",
                           "チェック",
                           "ポゼッション",
                           "攻撃22m内",
                           "ブレイクダウン勝",
                           "ブレイクダウン負",
                           "ラインブレイク",
                           "オフロード",
                           "ノックオン",
                           "スローフォワード",
                           "ハイボール",
                           "ボックスキック",
                           "グラバー",
                           "タッチキック",
                           "ジャッカル",
                           "ミスタックル",
                           "ダブルタッチ",
                           "サイドアタック",
                           "ショートサイド",
                           "ブラインド",
                           "ループ",
                           "クロスキック",
                           "シンビン",
                           "TMO"};
    const char* colours[] = {"#3f8a3f", "#f08a40", "#408bff", "#8b408b",
                             "#ff9d80", "#c03030", "#c8a020", "#808080"};
    for (size_t i = 0; i < 40; ++i) {
        Code c;
        c.name = names[i];
        c.color = colours[i / 5];
        w.codes.push_back(c);
    }
    return w;
}

// The window of 40 codes per team with a few tags.
int codes40Tour(MainWindow& window, const std::string& video) {
    MainViewController* main = window.mainViewController();
    EditViewController* edit = main->editViewController;
    if (!chooseWindow(edit, "40コード") || !openAndWait(main, video))
        return failed("the 40-code window or the video did not open");
    Player* player = main->MediaPlayer->player();
    double t = 6;
    for (const char* id : {"A6", "B0", "A27", "B12", "A34", "B31"}) {
        player->seekExact(t);
        QTest::qWait(150);
        clickTagButton(edit, id);
        t += 9;
    }
    player->seekExact(40);
    QTest::qWait(800);
    shoot("edit-40-codes");
    return 0;
}

// The editor on the 25-code window, a lasting code of a group chosen.
int editorTour(MainWindow& window, const std::string& video) {
    MainViewController* main = window.mainViewController();
    EditViewController* edit = main->editViewController;
    if (!chooseWindow(edit, "15人制 詳細") || !openAndWait(main, video))
        return failed("the 25-code window or the video did not open");
    main->MediaPlayer->player()->seekExact(30);
    QTest::mouseClick(edit->codePanel->codeWindowEditButton, Qt::LeftButton);
    CodeWindowEditor* editor = nullptr;
    if (!QTest::qWaitFor(
            [&] {
                editor = window.findChild<CodeWindowEditor*>();
                return editor && editor->isVisible();
            },
            5000))
        return failed("the editor did not open");
    (void)QTest::qWaitForWindowExposed(editor);
    for (QListWidget* list : editor->findChildren<QListWidget*>())
        if (list->count() == 25) {
            QListWidgetItem* attack = list->item(22);
            list->scrollToItem(attack);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualItemRect(attack).center());
        }
    QTest::qWait(500);
    shoot("code-window-editor");
    QTest::keyClick(editor, Qt::Key_Escape);
    return 0;
}

// The second process: this program holding `video` (after clicking a few tag
// buttons when `withTags`), its window behind this one's. Null when it did
// not get there.
std::unique_ptr<QProcess> startHolder(const std::string& video, bool withTags) {
    auto holder = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("RUCKTAG_TOUR", "hold");
    env.remove("RUCKTAG_TOUR_WINDOW");
    env.insert("RUCKTAG_TOUR_HOLD_TAGS", withTags ? "1" : "0");
    holder->setProcessEnvironment(env);
    holder->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    holder->start(QCoreApplication::applicationFilePath(), {QString::fromStdString(video), outDir});
    QByteArray said;
    const bool holding = QTest::qWaitFor(
        [&] {
            said += holder->readAllStandardOutput();
            return said.contains("holding\n") || holder->state() == QProcess::NotRunning;
        },
        30000);
    if (!holding || !said.contains("holding\n")) {
        std::fprintf(stderr, "screenshot_tour: the second process did not open the video\n");
        return nullptr;
    }
    return holder;
}

int holdTour(MainWindow& window, const std::string& video) {
    MainViewController* main = window.mainViewController();
    if (!openAndWait(main, video))
        return failed("the video did not open");
    if (qEnvironmentVariable("RUCKTAG_TOUR_HOLD_TAGS") == "1") {
        Player* player = main->MediaPlayer->player();
        double t = 5;
        for (const char* id : {"A6", "B0", "A12", "B9", "A3"}) {
            player->seekExact(t);
            QTest::qWait(150);
            clickTagButton(main->editViewController, id);
            t += 11;
        }
        main->tagJournal.flush();
    }
    std::printf("holding\n");
    std::fflush(stdout);
    // Until the tour ends it, or gives up on it.
    QTest::qWait(180000);
    return 0;
}

int viewOnlyTour(MainWindow& window, const std::string& video, TourDialogs& dialogs) {
    MainViewController* main = window.mainViewController();
    std::unique_ptr<QProcess> holder = startHolder(video, false);
    if (!holder)
        return 1;
    window.move(60, 10);
    window.raise();
    window.activateWindow();
    QTest::qWait(500);
    dialogs.shotName = "view-only";
    if (!openAndWait(main, video) ||
        !QTest::qWaitFor([] { return taken.count("view-only") > 0; }, 10000))
        return failed("no notice of a video another window records");
    const bool viewOnly = main->isViewOnly();
    holder->terminate();
    holder->waitForFinished(5000);
    if (!viewOnly)
        std::fprintf(stderr, "screenshot_tour: the second window was not view-only\n");
    return viewOnly ? 0 : 1;
}

int recoveryTour(MainWindow& window, const std::string& video, TourDialogs& dialogs) {
    MainViewController* main = window.mainViewController();
    std::unique_ptr<QProcess> holder = startHolder(video, true);
    if (!holder)
        return 1;
    holder->kill();
    holder->waitForFinished(5000);
    window.raise();
    window.activateWindow();
    QTest::qWait(300);
    dialogs.shotName = "recovery-question";
    if (!openAndWait(main, video) ||
        !QTest::qWaitFor([] { return taken.count("recovery-question") > 0; }, 10000))
        return failed("no restore question");
    // Answered with its default: the killed process's five tags come back.
    if (!QTest::qWaitFor([main] { return main->tagDataModel.data.size() == 5; }, 5000)) {
        std::fprintf(stderr, "screenshot_tour: %zu tags restored, not 5\n",
                     main->tagDataModel.data.size());
        return 1;
    }
    return 0;
}

// Two matches of a season, copies of `video` with session files, and a file
// the scan skips.
bool writeSeason(const std::filesystem::path& folder, const std::string& video) {
    struct Row {
        bool teamA;
        float time;
        const char* code;
        const char* comment;
    };
    struct Match {
        const char* stem;
        std::vector<Row> rows;
    };
    const Match matches[] = {{"2026-09-06 東京",
                              {{true, 12, "トライ", "右へ展開して左隅"},
                               {false, 31, "スクラム", ""},
                               {true, 48, "ラインアウト", ""},
                               {false, 65, "ターンオーバー", "ラック右"},
                               {true, 100, "スクラム", "押し勝ち"}}},
                             {"2026-09-20 大阪",
                              {{true, 20, "キックオフ", ""},
                               {true, 55, "スクラム", "右"},
                               {false, 80, "ペナルティ", "オフサイド"},
                               {false, 95, "スクラム", ""}}}};
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    std::filesystem::create_directories(folder, ec);
    for (const Match& m : matches) {
        const std::string stem = m.stem;
        if (!std::filesystem::copy_file(video, folder / (stem + ".mp4"), ec))
            return false;
        std::vector<std::shared_ptr<TagRowData>> rows;
        for (const Row& r : m.rows) {
            auto tag = std::make_shared<TagRowData>();
            tag->index = static_cast<int64_t>(rows.size());
            tag->team = r.teamA;
            tag->time_val = r.time;
            tag->time_string = MediaPlayerView::createTimeString(r.time);
            tag->name = r.code;
            tag->comment = r.comment;
            rows.push_back(tag);
        }
        if (!TagFileManager::saveCSVFile(folder / (stem + ".csv"), rows, true).empty())
            return false;
    }
    std::ofstream(folder / "メモ.csv") << "Team, INDEX, 再生時刻, タグ内容, コメント\n";
    return true;
}

// Waits until the results are those of the filters just set.
bool hitsAre(LibraryWindow* library,
             const std::function<bool(const std::vector<library::Hit>&)>& wanted) {
    return QTest::qWaitFor([&] { return wanted(library->hitModel()->hits()); }, 10000);
}

int libraryTour(MainWindow& window, const std::string& video, TourDialogs& dialogs) {
    MainViewController* main = window.mainViewController();
    const std::filesystem::path season = (outDir + "/season").toStdString();
    if (!writeSeason(season, video))
        return failed("the season's matches could not be written");
    const std::string tokyo = (season / "2026-09-06 東京.mp4").string();
    const std::string osaka = (season / "2026-09-20 大阪.mp4").string();
    if (!openAndWait(main, tokyo))
        return failed("the first match did not open");
    auto* libraryButton = window.findChild<QToolButton*>("window_library");
    if (!libraryButton)
        return failed("no library button in the header");
    QTest::mouseClick(libraryButton, Qt::LeftButton);
    LibraryWindow* library = main->libraryLink()->window();
    if (!library || !QTest::qWaitForWindowExposed(library))
        return failed("the library window did not open");
    dialogs.folderAnswer = season.string();
    QTest::mouseClick(library->addFolderButton, Qt::LeftButton);
    auto hasRight = [](const std::vector<library::Hit>& hits) {
        return !hits.empty() && std::all_of(hits.begin(), hits.end(), [](const library::Hit& h) {
            return h.comment.find("右") != std::string::npos;
        });
    };
    // Typed as an input method gives it: a key with text and no key code
    // (to the field itself: without a window manager the click may not
    // activate the window).
    QTest::mouseClick(library->commentEdit, Qt::LeftButton);
    QTest::sendKeyEvent(QTest::Click, library->commentEdit, Qt::Key_unknown, QString("右"),
                        Qt::NoModifier);
    if (!QTest::qWaitFor([&] { return library->rescanButton->isEnabled(); }, 30000) ||
        !hitsAre(library, hasRight))
        return failed("the scan or the search for 右 did not end");
    QTest::qWait(300);
    shoot("library-window");

    // A double click on 大阪's scrum opens that match at the tag.
    const auto& hits = library->hitModel()->hits();
    int row = -1;
    for (size_t i = 0; i < hits.size(); ++i)
        if (hits[i].code == "スクラム" && hits[i].video.find("大阪") != std::string::npos)
            row = static_cast<int>(i);
    if (row < 0)
        return failed("no scrum of 大阪 found");
    QTableView* results = library->resultsView;
    // A press chooses the row, the second the double click opens.
    QTest::mouseClick(results->viewport(), Qt::LeftButton, {},
                      results->visualRect(library->hitModel()->index(row, 3)).center());
    QTest::mouseDClick(results->viewport(), Qt::LeftButton, {},
                       results->visualRect(library->hitModel()->index(row, 3)).center());
    if (!QTest::qWaitFor([&] { return main->session->isOpenVideo(osaka); }, 20000))
        return failed("the double click did not open 大阪");
    // Playback starts 2 s after the seek, as a row click's does; the pointer
    // leaves the buttons it would light.
    QTest::mouseMove(&window, QPoint(window.width() - 2, window.height() - 2));
    QTest::qWait(3000);
    shoot("library-open-at-tag");

    // Back to the library: スクラム across the season, played one after another.
    QTest::mouseClick(libraryButton, Qt::LeftButton);
    QTest::mouseClick(library->commentEdit, Qt::LeftButton);
    QTest::keyClick(library->commentEdit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(library->commentEdit, Qt::Key_Backspace);
    const int scrum = library->codeCombo->findText("スクラム");
    if (scrum >= 0)
        library->codeCombo->setCurrentIndex(scrum);
    else
        library->codeCombo->setEditText("スクラム");
    if (!hitsAre(library, [](const std::vector<library::Hit>& found) {
            return found.size() == 4 &&
                   std::all_of(found.begin(), found.end(),
                               [](const library::Hit& h) { return h.code == "スクラム"; });
        }))
        return failed("the search for スクラム did not end");
    // Short moments bring the second match soon.
    main->playViewController->momentLeadSpinBox->setValue(2);
    main->playViewController->momentLagSpinBox->setValue(3);
    int playing = -1;
    QObject::connect(library->sequence, &LibrarySequence::momentStarted, library,
                     [&playing](int index) { playing = index; });
    QTest::mouseClick(library->sequenceButton, Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return playing >= 0; }, 20000))
        return failed("連続再生 did not start");
    QTest::qWait(1500);
    // The video came to the front as the sequence began; the list is looked at.
    library->raise();
    QTest::qWait(300);
    shoot("library-sequence");
    const std::vector<LibraryMoment>& moments = library->sequence->moments();
    const std::string first = moments.front().video;
    if (!QTest::qWaitFor(
            [&] {
                return playing >= 0 && static_cast<size_t>(playing) < moments.size() &&
                       moments[static_cast<size_t>(playing)].video != first;
            },
            60000))
        return failed("連続再生 did not reach the second match");
    window.raise();
    QTest::qWait(1500);
    shoot("library-sequence-main");
    QTest::mouseClick(library->sequenceButton, Qt::LeftButton);
    QTest::qWait(300);
    return 0;
}

// The standard window on the demo match: tags, clips, the screens, and with
// `exports` a question, a clip and a highlight exported.
int mainTour(MainWindow& window, const std::string& video, TourDialogs& dialogs, bool exports) {
    MainViewController* main = window.mainViewController();
    EditViewController* edit = main->editViewController;
    PlayViewController* play = main->playViewController;
    if (!openAndWait(main, video))
        return failed("the video did not open");
    Player* player = main->MediaPlayer->player();

    // Tags at several times, one with a comment, and two clips by keys.
    const char* presses[] = {"A6", "B0", "A12", "B9", "A3", "B15", "A4"};
    double t = 4;
    for (const char* id : presses) {
        player->seekExact(t);
        QTest::qWait(150);
        for (TagButton* b : edit->codePanel->tagButtons)
            if (b->objectName() == id)
                QTest::mouseClick(b, Qt::LeftButton);
        t += 7;
    }
    edit->commentTextField->setPlainText("ラインアウトからのモール、\n前進 5m");
    edit->onCommentAdd();
    for (double start : {12.0, 30.0}) {
        player->seekExact(start);
        QTest::qWait(200);
        QTest::keyClick(main->MediaPlayer, Qt::Key_Comma);
        player->seekExact(start + 6);
        QTest::qWait(200);
        QTest::keyClick(main->MediaPlayer, Qt::Key_Period);
    }
    // A few hundred more, as a whole match gives: open play all along, set
    // pieces and scores less often.
    std::mt19937 rng(3);
    const int weights[] = {30, 12, 40, 14, 6, 2, 8, 7, 2, 5, 6, 3, 2, 1, 1, 7, 1, 2};
    std::discrete_distribution<int> pick(std::begin(weights), std::end(weights));
    std::uniform_real_distribution<float> when(1.0f, 119.0f);
    for (int i = 0; i < 300; ++i) {
        auto tag = std::make_shared<TagRowData>();
        tag->team = rng() % 2;
        tag->time_val = when(rng);
        tag->time_string = MediaPlayerView::createTimeString(tag->time_val);
        tag->name = MainViewController::TAG_LABEL[static_cast<size_t>(pick(rng))];
        main->tagDataModel.appent(tag);
    }
    edit->reloadTagDataTable(true);
    player->playImmediatelyAtRate(1.0f);
    QTest::qWait(1500);

    // Pointer over a tag button, then over a row of the table.
    for (TagButton* b : edit->codePanel->tagButtons)
        if (b->objectName() == "B6")
            QTest::mouseMove(b, b->rect().center());
    QTest::qWait(300);
    shoot("edit-hover-button");
    CustomTableView* table = edit->tagTableView;
    QTest::mouseMove(table->viewport(), table->visualRect(table->model()->index(2, 3)).center());
    QTest::qWait(300);
    shoot("edit-hover-row");

    // The exchange menu open, then the import's question: a code without a
    // team and codes the window lacks, the copy of the window offered.
    auto* exchange = edit->findChild<QPushButton*>("tagExchangeButton");
    QTimer::singleShot(600, [exchange] {
        shoot("edit-exchange-menu");
        if (QMenu* menu = exchange->menu())
            menu->close();
    });
    QTest::mouseClick(exchange, Qt::LeftButton);
    const std::string xml = (outDir + "/import-tour.xml").toStdString();
    std::ofstream(xml) << "<file><ALL_INSTANCES>"
                          "<instance><ID>1</ID><start>20</start><end>26</end>"
                          "<code>Carry</code></instance>"
                          "<instance><ID>2</ID><start>40</start><end>44</end>"
                          "<code>A ラインブレイク</code></instance>"
                          "<instance><ID>3</ID><start>60</start><end>62</end>"
                          "<code>B 22m進入</code></instance>"
                          "</ALL_INSTANCES></file>";
    QTimer::singleShot(800, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog || dialog->objectName() != "importDialog")
            return;
        if (auto* box = dialog->findChild<QCheckBox*>("addToWindowCopy"))
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        QTest::qWait(200);
        shoot("import-dialog");
        // Nothing imported, no window written: the tour goes on as before.
        if (auto* cancel = dialog->findChild<QAbstractButton*>("importCancel"))
            cancel->click();
    });
    dialogs.fileAnswer = xml;
    edit->findChild<QAction*>("onTagXMLInput")->trigger();
    // Read on a worker thread: the question comes, and goes, once it is read.
    (void)QTest::qWaitFor(
        [edit] {
            const auto* bar = edit->window()->findChild<QWidget*>("importProgress");
            return !bar || !bar->isVisible();
        },
        10000);
    std::filesystem::remove(xml);

    // Play mode with a chosen tag.
    main->onMenuSelectPlayMode();
    QTest::qWait(500);
    QTest::mouseClick(
        play->tagTableView->viewport(), Qt::LeftButton, {},
        play->tagTableView->visualRect(play->tagTableView->model()->index(3, 3)).center());
    QTest::qWait(800);
    shoot("play-mode");
    // A count of the tally: team A's scrums alone.
    QTableView* tally = play->tallyTableView;
    QTest::mouseClick(
        tally->viewport(), Qt::LeftButton, {},
        tally->visualRect(tally->model()->index(6, TallyTableModel::TeamACol)).center());
    QTest::qWait(500);
    shoot("play-tally-count");
    main->onMenuSelectEditMode();
    QTest::qWait(300);

    // The strip zoomed around its middle, the pointer on a mark.
    TagTimeline* strip = edit->tagTimeline;
    const QPoint middle(strip->width() / 2, strip->height() / 4);
    for (int i = 0; i < 6; ++i) {
        QWheelEvent wheel(middle, strip->mapToGlobal(middle), {}, QPoint(0, 120), Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(strip, &wheel);
    }
    for (int x = middle.x(); x < strip->width(); ++x)
        if (!strip->marksAt({x, middle.y()}).empty()) {
            QTest::mouseMove(strip, {x, middle.y()});
            // Xvfb's pointer does not follow, so the tip is asked for here.
            QHelpEvent tip(QEvent::ToolTip, {x, middle.y()},
                           strip->mapToGlobal(QPoint(x, middle.y())));
            QApplication::sendEvent(strip, &tip);
            break;
        }
    QTest::qWait(1500);
    shoot("edit-timeline-zoomed");
    QTest::mouseDClick(strip, Qt::LeftButton, {}, {2, strip->height() - 2});
    QTest::qWait(300);
    if (!exports)
        return 0;

    // A question, as the user sees it.
    dialogs.shotName = "dialog-delete";
    edit->tagModel()->setTicked(1, true);
    MessageBox("選択された項目を削除しますか？", "削除");

    // Export a long clip: the progress window, then the report.
    player->seekExact(5);
    QTest::qWait(200);
    edit->mediaClipStart();
    player->seekExact(115);
    QTest::qWait(200);
    edit->mediaClipEnd();
    edit->clipModel()->setTicked(2, true);
    dialogs.shotName = "clip-done";
    edit->onClipOutput();
    (void)QTest::qWaitFor([&] { return !window.findChildren<ClipWindowController*>().isEmpty(); },
                          3000);
    QTest::qWait(2500);
    shoot("clip-progress");
    (void)QTest::qWaitFor([&] { return window.findChildren<ClipWindowController*>().isEmpty(); },
                          120000);
    QTest::qWait(300);

    // Play mode: the listed tags' moments in sequence, then as one highlight.
    main->onMenuSelectPlayMode();
    QTest::qWait(500);
    // Two seconds either side keep the demo's tags apart.
    play->momentLeadSpinBox->setValue(2);
    play->momentLagSpinBox->setValue(2);
    QTest::mouseClick(play->findChild<QAbstractButton*>("onSequencePlay"), Qt::LeftButton);
    QTest::qWait(2500);
    shoot("play-sequence");
    QTest::keyClick(play->tagTableView, Qt::Key_PageDown);
    QTest::qWait(1500);
    shoot("play-sequence-next");
    dialogs.shotName = "highlight-done";
    QTest::mouseClick(play->findChild<QAbstractButton*>("onHighlightOutput"), Qt::LeftButton);
    (void)QTest::qWaitFor([&] { return !window.findChildren<ClipWindowController*>().isEmpty(); },
                          3000);
    QTest::qWait(2500);
    shoot("highlight-progress");
    (void)QTest::qWaitFor([&] { return window.findChildren<ClipWindowController*>().isEmpty(); },
                          300000);
    QTest::qWait(300);
    return 0;
}

const char* const kUsage =
    "Usage: screenshot_tour VIDEO OUT_DIR\n"
    "       screenshot_tour --list | --help\n"
    "Drives the application on VIDEO under a display and saves the shots of one\n"
    "tour as OUT_DIR/NAME.png. RUCKTAG_TOUR chooses the tour (default main;\n"
    "RUCKTAG_TOUR_WINDOW=1 is the window tour); --list prints each tour and its\n"
    "shots. Exit status: 0 every shot taken, 1 the tour failed, 2 bad usage.\n";

} // namespace

namespace tours {
QString outFolder() {
    return outDir;
}
void shoot(const QString& name) {
    ::shoot(name);
}
void madeShot(const QString& name) {
    const auto& listed = ::tour->shots;
    if (std::find(listed.begin(), listed.end(), name) == listed.end())
        strayShots << name;
    else if (QFile::exists(outDir + "/" + name + ".png"))
        taken.insert(name);
}
int failed(const char* why) {
    return ::failed(why);
}
bool openAndWait(MainViewController* main, const std::string& video) {
    return ::openAndWait(main, video);
}
bool chooseWindow(EditViewController* edit, const char* name) {
    return ::chooseWindow(edit, name);
}
bool writeSeason(const std::filesystem::path& folder, const std::string& video) {
    return ::writeSeason(folder, video);
}
} // namespace tours

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!std::strcmp(argv[i], "--list")) {
            for (const Tour& t : kTours) {
                std::printf("%s", t.name);
                for (const QString& shot : t.shots)
                    std::printf(" %s", qPrintable(shot));
                std::printf("\n");
            }
            return 0;
        }
    }
    QString mode = qEnvironmentVariable("RUCKTAG_TOUR", "main");
    if (qEnvironmentVariable("RUCKTAG_TOUR_WINDOW") == "1")
        mode = "window";
    for (const Tour& t : kTours)
        if (mode == t.name)
            tour = &t;
    if (argc != 3 || argv[1][0] == '-' || !tour) {
        if (!tour)
            std::fprintf(stderr, "screenshot_tour: no tour named %s\n", qPrintable(mode));
        std::fputs(kUsage, stderr);
        return 2;
    }
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    QFont::insertSubstitutions("Hiragino Sans GB", {"Noto Sans CJK JP"});
    QFont::insertSubstitutions("Arial", {"Liberation Sans", "DejaVu Sans"});
    QApplication::setFont(QFont("Hiragino Sans GB"));
    const std::string video = argv[1];
    outDir = QString::fromLocal8Bit(argv[2]);
    std::filesystem::create_directories(outDir.toStdString());
    // The tour's lead and lag must not become the user's.
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    TourDialogs dialogs(dialogProvider());
    setDialogProvider(&dialogs);
    // Nor its code windows, journals or library; the second process shares
    // the first one's.
    QTemporaryDir configDir;
    if (mode != "hold") {
        qputenv("XDG_CONFIG_HOME", configDir.path().toUtf8());
        qputenv("XDG_STATE_HOME", (configDir.path() + "/state").toUtf8());
        qputenv("XDG_DATA_HOME", (configDir.path() + "/data").toUtf8());
        QString library = configDir.path() + "/library.sqlite";
        if (mode == "library" || mode == "playlists") {
            library = outDir + "/season-library.sqlite";
            QFile::remove(library);
        }
        qputenv("RUCKTAG_LIBRARY", library.toUtf8());
    }
    std::filesystem::create_directories(codeWindowFolder());
    if ((mode == "window" || mode == "editor" || mode == "angles") &&
        !writeCodeWindowFile(codeWindowFolder() / "tour.json", tourWindow()).empty())
        return 1;
    if (mode == "codes40" &&
        !writeCodeWindowFile(codeWindowFolder() / "forty.json", fortyCodes()).empty())
        return 1;

    MainWindow window;
    MainViewController* main = window.mainViewController();
    window.fitMainView(main->size());
    window.move(20, 20);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    int result = 1;
    if (mode == "main" || mode == "screens")
        result = mainTour(window, video, dialogs, mode == "main");
    else if (mode == "window")
        result = windowTour(window, video);
    else if (mode == "editor")
        result = editorTour(window, video);
    else if (mode == "codes40")
        result = codes40Tour(window, video);
    else if (mode == "viewonly")
        result = viewOnlyTour(window, video, dialogs);
    else if (mode == "recovery")
        result = recoveryTour(window, video, dialogs);
    else if (mode == "library")
        result = libraryTour(window, video, dialogs);
    else if (mode == "hold")
        result = holdTour(window, video);
    else if (mode == "match")
        result = matchTour(window, video);
    else if (mode == "playlists")
        result = playlistTour(window, video);
    else if (mode == "angles-dialog")
        result = anglesDialogTour(window, video);
    else if (mode == "angles")
        result = anglesTour(window, video);
    else if (mode == "live")
        result = liveTour(window, video);
    setDialogProvider(nullptr);
    if (!strayShots.isEmpty()) {
        std::fprintf(stderr, "screenshot_tour: shots not listed for the %s tour: %s\n", tour->name,
                     qPrintable(strayShots.join(' ')));
        result = 1;
    }
    std::string missing;
    for (const QString& shot : tour->shots)
        if (!taken.count(shot))
            missing += " " + shot.toStdString();
    if (!missing.empty()) {
        std::fprintf(stderr, "screenshot_tour: the %s tour did not take:%s\n", tour->name,
                     missing.c_str());
        result = 1;
    }
    return result;
}
