// The season library's window, driven through its widgets: folders added with
// its button, filters typed and chosen, results double-clicked, a sequence
// played across two matches; the library a real SQLite file of the test's.
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QUrlQuery>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <map>

#include "SubModuleClass/TagFileManager.h"
#include "client/LibraryClient.h"
#include "library/LibraryTestSupport.h"
#include "match/MatchInfo.h"
#include "player/MpvPlayer.h"
#include "review/MomentSequence.h"
#include "season/LibrarySequence.h"
#include "season/LibraryWindow.h"
#include "support/MediaFixtures.h"
#include "support/ScreenFixture.h"
#include "support/Tags.h"

namespace fs = std::filesystem;

namespace {

// A match in `folder`: the fixture video under `name` and its session file.
fs::path writeMatch(const fs::path& folder, const std::string& name,
                    const std::vector<std::shared_ptr<TagRowData>>& tags) {
    fs::create_directories(folder);
    const fs::path video = folder / (name + ".mp4");
    fs::copy_file(fixturePath("clip.mp4"), video, fs::copy_options::overwrite_existing);
    for (size_t i = 0; i < tags.size(); ++i)
        tags[i]->index = static_cast<int64_t>(i);
    EXPECT_EQ(
        TagFileManager::saveCSVFile(TagFileManager::sessionFilePath(video.string()), tags, true),
        "");
    return video;
}

// Two matches of a season: the first, 東京 at home, three tags; the second,
// 大阪 away, two.
struct Season {
    fs::path folder, tokyo, osaka;
    explicit Season(const fs::path& dir) : folder(dir / "season") {
        tokyo = writeMatch(folder, "2026-09-06 東京",
                           {tag(true, 2, "トライ", "右へ展開"),
                            librarytest::tag(false, 4, "スクラム", "", {{"選手", "12 山田"}}),
                            librarytest::tag(true, 7, "ラインアウト", "", {{"結果", "成功"}})});
        osaka = writeMatch(
            folder, "2026-09-20 大阪",
            {tag(false, 3, "トライ", "左"),
             librarytest::tag(true, 6, "スクラム", "右", {{"選手", "12 山田"}, {"結果", "失敗"}})});
        // 大阪's match file names the teams and marks 前半 from 0:01.
        MatchInfo match;
        match.teams = {"大阪", "東京"};
        match.periods = {{"前半", 1, MatchPeriod::kOpenEnd, 0}};
        std::ofstream(matchFilePathFor(TagFileManager::sessionFilePath(osaka.string())))
            << matchJson(match);
    }
};

QString countText(LibraryWindow* w) {
    return w->countLabel->text();
}

// Waits until the results are `count` tags, each passing `each`.
bool shows(LibraryWindow* w, size_t count, const std::function<bool(const library::Hit&)>& each) {
    return QTest::qWaitFor(
        [&] {
            const auto& hits = w->hitModel()->hits();
            return hits.size() == count && std::all_of(hits.begin(), hits.end(), each) &&
                   w->countLabel->text() == QString("%1件").arg(count);
        },
        3000);
}

// Double-clicks row `row` of the results where a person would.
void doubleClickRow(QTableView* view, int row, int column = 3) {
    const QRect r = view->visualRect(view->model()->index(row, column));
    ASSERT_TRUE(r.isValid());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, r.center());
}

// The row of the results whose match is `title` and time `time`.
int rowOf(LibraryWindow* w, const QString& title, double time) {
    const auto& hits = w->hitModel()->hits();
    for (size_t i = 0; i < hits.size(); ++i)
        if (hits[i].title.contains(title) && std::abs(hits[i].time - time) < 0.01)
            return static_cast<int>(i);
    return -1;
}

// One number a query of the library's PostgreSQL database gives.
qint64 pgNumber(const QString& url, const QString& sql) {
    const QUrl u(url);
    qint64 value = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "pg-check");
        db.setHostName(QUrlQuery(u).queryItemValue("host"));
        db.setDatabaseName(u.path().mid(1));
        db.setUserName("postgres");
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(sql) && q.next())
                value = q.value(0).toLongLong();
        }
    }
    QSqlDatabase::removeDatabase("pg-check");
    return value;
}

// A server of the test's own, destroyed at the end whatever happened.
// Started, with a new database the library is set to; `url` empty if not.
struct OwnServer {
    QString dir, url, why;
    OwnServer() {
        QByteArray pattern("/tmp/rucktag-pg-ui.XXXXXX");
        if (::mkdtemp(pattern.data()))
            dir = QString::fromLocal8Bit(pattern);
        if (librarytest::pgServer("start", dir, &why))
            url = librarytest::newDatabaseOn(dir, &why);
        ::setenv("RUCKTAG_LIBRARY", url.toUtf8().constData(), 1);
    }
    ~OwnServer() {
        if (!dir.isEmpty()) {
            librarytest::signalServer(dir, SIGCONT);
            librarytest::pgServer("destroy", dir, nullptr);
        }
    }
};

} // namespace

// The main view on the fake player with a library file of the test's own.
class LibraryScreens : public Screens {
protected:
    LibraryScreens() : season(dir) {
        database = (dir / "library.sqlite").string();
        ::setenv("RUCKTAG_LIBRARY", database.c_str(), 1);
    }
    ~LibraryScreens() override {
        if (main)
            main->library()->waitIdle();
        ::unsetenv("RUCKTAG_LIBRARY");
    }
    // Opens the library window with the header's button and adds the season
    // folder with the window's button.
    LibraryWindow* openLibrary() {
        LibraryWindow* w = libraryWindow();
        if (!w)
            return nullptr;
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w));
        dialogs.paths = {season.folder.string()};
        QTest::mouseClick(w->addFolderButton, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return countText(w) == "5件"; }, 10000))
            << countText(w).toStdString() << " " << w->scanReportLabel->text().toStdString();
        return w;
    }
    // The window the header's button opens.
    LibraryWindow* libraryWindow() {
        click("window_library");
        auto* w = window->findChild<LibraryWindow*>("libraryWindow");
        EXPECT_NE(w, nullptr);
        return w;
    }
    // Opens `video`, records a tag at `at` and saves over its session.
    void tagAndSave(const fs::path& video, size_t tags, double at) {
        main->openVideo(video.string());
        ASSERT_TRUE(QTest::qWaitFor([&] { return main->tagDataModel.data.size() == tags; }, 3000));
        // Back to the main window, as a click on it would make it active.
        QApplication::setActiveWindow(window.get());
        press("A0", at);
        dialogs.answers = {1}; // 上書きしますか？ はい
        click("window_save");
        ASSERT_FALSE(main->m_fSave);
    }
    Season season;
    std::string database;
};

TEST_F(LibraryScreens, FiltersNarrowTheResultsAsTheyAreChosenAndTyped) {
    LibraryWindow* w = openLibrary();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->scanReportLabel->text().startsWith("追加 2件"))
        << w->scanReportLabel->text().toStdString();
    // Match, time as the app writes it, team, code, labels, comment.
    QAbstractItemModel* m = w->resultsView->model();
    const int r = rowOf(w, "東京", 7);
    ASSERT_GE(r, 0);
    EXPECT_EQ(m->data(m->index(r, 1)).toString(), "0:00:07");
    EXPECT_EQ(m->data(m->index(r, 2)).toString(), "A");
    EXPECT_EQ(m->data(m->index(r, 3)).toString(), "ラインアウト");
    EXPECT_EQ(m->data(m->index(r, 4)).toString(), "成功");
    // Where the match file names the teams and marks periods: match time.
    const int named = rowOf(w, "大阪", 6);
    ASSERT_GE(named, 0);
    EXPECT_EQ(m->data(m->index(named, 1)).toString(), "前半 0:05");
    EXPECT_EQ(m->data(m->index(named, 2)).toString(), "大阪");

    // Team B only.
    chooseFilter(w->teamCombo, "B");
    EXPECT_TRUE(shows(w, 2, [](const auto& h) { return !h.teamA; }));
    chooseFilter(w->teamCombo, "両方");
    ASSERT_TRUE(shows(w, 5, [](const auto&) { return true; }));

    // A code typed into the code box.
    QTest::mouseClick(w->codeCombo->lineEdit(), Qt::LeftButton);
    type(Qt::Key_A, Qt::ControlModifier);
    typeJapanese("スクラム");
    EXPECT_TRUE(shows(w, 2, [](const auto& h) { return h.code == "スクラム"; }));

    // One Japanese character of a comment: 右 is in 右へ展開 and in 右.
    QTest::mouseClick(w->commentEdit, Qt::LeftButton);
    typeJapanese("右");
    EXPECT_TRUE(shows(w, 1, [](const auto& h) { return h.comment == "右"; }));
    // The code box emptied: both tags with 右.
    QTest::mouseClick(w->codeCombo->lineEdit(), Qt::LeftButton);
    type(Qt::Key_A, Qt::ControlModifier);
    type(Qt::Key_Backspace);
    EXPECT_TRUE(shows(w, 2, [](const auto& h) { return h.comment.find("右") == 0; }));

    // Labels as group=text: a word with no = continues the text before it
    // (a player's "12 山田", a full-width space too); a malformed one said.
    QTest::mouseClick(w->commentEdit, Qt::LeftButton);
    type(Qt::Key_A, Qt::ControlModifier);
    type(Qt::Key_Backspace);
    QTest::mouseClick(w->labelEdit, Qt::LeftButton);
    const struct {
        const char *typed, *code;
        size_t count;
    } labelCases[] = {{"結果=成功", "ラインアウト", 1},
                      {"選手=12 山田", "スクラム", 2},
                      {"選手=12　山田 結果=失敗", "スクラム", 1},
                      {"成功", "", 0},
                      {"山田 結果=成功", "", 0}};
    for (const auto& c : labelCases) {
        SCOPED_TRACE(c.typed);
        type(Qt::Key_A, Qt::ControlModifier);
        typeJapanese(c.typed);
        if (c.count > 0) {
            EXPECT_TRUE(shows(w, c.count, [&](const auto& h) { return h.code == c.code; }));
            continue;
        }
        const QString said = QString("ラベルは「グループ=テキスト」の形で入力してください: ") +
                             QString(c.typed).section(' ', 0, 0);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return w->problemLabel->isVisible() && w->problemLabel->text() == said; }, 3000))
            << w->problemLabel->text().toStdString();
    }
    type(Qt::Key_A, Qt::ControlModifier);
    type(Qt::Key_Backspace);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w->problemLabel->isVisible(); }, 3000));
    ASSERT_TRUE(shows(w, 5, [](const auto&) { return true; }));

    // The match pop-up lists both; choosing one narrows to its tags.
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->matchCombo->count() == 3; }, 3000));
    EXPECT_EQ(w->matchCombo->itemText(0), "すべての試合");
    const int osaka = w->matchCombo->findText("大阪", Qt::MatchContains);
    ASSERT_GT(osaka, 0);
    chooseFilter(w->matchCombo, w->matchCombo->itemText(osaka));
    EXPECT_TRUE(shows(w, 2, [](const auto& h) { return h.title.contains("大阪"); }));

    // A date range that holds only the first match; an unreadable date said.
    chooseFilter(w->matchCombo, "すべての試合");
    ASSERT_TRUE(shows(w, 5, [](const auto&) { return true; }));
    QTest::mouseClick(w->dateToEdit, Qt::LeftButton);
    typeText("2026/09/10");
    EXPECT_TRUE(shows(w, 3, [](const auto& h) { return h.date == "2026-09-06"; }));
    QTest::mouseClick(w->dateFromEdit, Qt::LeftButton);
    typeText("2026-13-01");
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->problemLabel->isVisible(); }, 3000));
    EXPECT_EQ(w->problemLabel->text(), "日付は 2026-09-06 の形で入力してください: 2026-13-01");
}

TEST_F(LibraryScreens, DoubleClickAsksAboutUnsavedTagsFirstAndCancelKeepsTheVideo) {
    // A video of another folder, tagged and not saved.
    openVideo("current.mp4");
    press("A0", 12);
    ASSERT_TRUE(main->m_fSave);
    const std::string current = fake->currentPath();
    LibraryWindow* w = openLibrary();
    ASSERT_NE(w, nullptr);

    const int row = rowOf(w, "大阪", 6);
    ASSERT_GE(row, 0);
    dialogs.shown.clear();
    dialogs.answers = {2}; // キャンセル
    doubleClickRow(w->resultsView, row);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].message, "タグデータが変更されています。保存しますか？");
    EXPECT_EQ(fake->currentPath(), current);
    ASSERT_EQ(main->tagDataModel.data.size(), 1u);

    // いいえ: the match opens at the tag, its row chosen on the edit screen.
    dialogs.answers = {0};
    doubleClickRow(w->resultsView, row);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return fake->currentPath() == season.osaka.string(); }, 3000));
    ASSERT_EQ(main->tagDataModel.data.size(), 2u);
    EXPECT_DOUBLE_EQ(fake->clock, 6.0);
    const int chosen = edit->tagTableView->selectedRow();
    ASSERT_GE(chosen, 0);
    EXPECT_EQ(edit->tagTableData[static_cast<size_t>(chosen)]->comment, "右");

    // The open video's own tag: no question, the seek and the row only.
    dialogs.shown.clear();
    const int other = rowOf(w, "大阪", 3);
    doubleClickRow(w->resultsView, other);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_DOUBLE_EQ(fake->clock, 3.0);
    EXPECT_EQ(edit->tagTableData[static_cast<size_t>(edit->tagTableView->selectedRow())]->name,
              "トライ");
}

// A long match of eighty tags, each lasting 4 s, an hour into its video;
// found with the window's 再スキャン.
void addLongMatch(const Season& season, LibraryWindow* w) {
    std::vector<std::shared_ptr<TagRowData>> tags;
    for (int i = 0; i < 80; ++i) {
        tags.push_back(tag(i % 2 == 0, 3600.0f + 10.0f * static_cast<float>(i), "ラック"));
        tags.back()->end = TagEnd::at(3604.0f + 10.0f * static_cast<float>(i));
    }
    writeMatch(season.folder, "2026-10-04 福岡", tags);
    QTest::mouseClick(w->rescanButton, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return countText(w) == "85件"; }, 10000))
        << countText(w).toStdString();
}

// The time column shows a tag's whole range; a tag of a long match,
// double-clicked, is in sight on the edit screen.
TEST_F(LibraryScreens, ALongMatchsTagShowsItsRangeAndIsInSightOnTheEditScreen) {
    LibraryWindow* w = openLibrary();
    ASSERT_NE(w, nullptr);
    addLongMatch(season, w);
    QAbstractItemModel* m = w->resultsView->model();
    const int first = rowOf(w, "福岡", 3600);
    ASSERT_GE(first, 0);
    w->resultsView->scrollTo(m->index(first, 1));
    EXPECT_EQ(m->data(m->index(first, 1)).toString(), "1:00:00–1:00:04");
    // What the cell needs (the delegate's measure) is what it has.
    const QAbstractItemView* view = w->resultsView; // where the measure is public
    EXPECT_GE(w->resultsView->columnWidth(1), view->sizeHintForColumn(1));

    const int row = rowOf(w, "福岡", 3600 + 10 * 74);
    ASSERT_GE(row, 0);
    w->resultsView->scrollTo(m->index(row, 0));
    doubleClickRow(w->resultsView, row);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const int chosen = edit->tagTableView->selectedRow();
            return chosen >= 0 &&
                   std::abs(edit->tagTableData[static_cast<size_t>(chosen)]->time_val - 4340) <
                       0.01f;
        },
        5000));
    QApplication::processEvents();
    const QRect cell = edit->tagTableView->visualRect(
        edit->tagTableView->model()->index(edit->tagTableView->selectedRow(), 0));
    EXPECT_TRUE(edit->tagTableView->viewport()->rect().contains(cell))
        << cell.y() << " in " << edit->tagTableView->viewport()->height();
}

// 試合レポート of the search over both matches: each code counted per half
// across them (as the hits' own periods say), blocked by match minute; the
// figures read back from the PDF.
TEST_F(LibraryScreens, TheMatchReportCountsBothMatchesPerHalf) {
    MatchInfo tokyo; // 前半 to 0:05, then 後半 (its clock from 40:00)
    tokyo.periods = {{"前半", 0, 5, 0}, {"後半", 5, MatchPeriod::kOpenEnd, 2400}};
    std::ofstream(matchFilePathFor(TagFileManager::sessionFilePath(season.tokyo.string())))
        << matchJson(tokyo);
    LibraryWindow* w = openLibrary();
    ASSERT_NE(w, nullptr);
    dialogs.paths = {(dir / "report").string()}; // typed without the extension
    QTest::mouseClick(w->reportButton, Qt::LeftButton);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return dialogs.saw("試合レポートが作成されました。"); }, 10000));
    EXPECT_EQ(dialogs.panels.back().panel.extensions, QStringList{"pdf"});
    std::map<std::string, std::array<int, 4>> counts; // 前半 A, B, 後半 A, B
    for (const library::Hit& h : w->hitModel()->hits())
        ++counts[h.code][(h.period == "後半" ? 2 : 0) + (h.teamA ? 0 : 1)];
    ASSERT_EQ(counts["ラインアウト"][2], 1); // both halves are there
    QProcess text;
    text.start("pdftotext", {"-raw", QString::fromStdString((dir / "report.pdf").string()), "-"});
    ASSERT_TRUE(text.waitForFinished(30000)) << "pdftotext (poppler-utils) is needed";
    const QString shown = QString::fromUtf8(text.readAllStandardOutput());
    for (const auto& [code, n] : counts) // 前半 A B, 後半 A B, 計 A B, 計
        EXPECT_TRUE(shown.contains(QStringLiteral("\n%1 %2 %3 %4 %5 %6 %7 %8\n")
                                       .arg(QString::fromStdString(code))
                                       .arg(n[0])
                                       .arg(n[1])
                                       .arg(n[2])
                                       .arg(n[3])
                                       .arg(n[0] + n[2])
                                       .arg(n[1] + n[3])
                                       .arg(n[0] + n[1] + n[2] + n[3])))
            << code << "\n"
            << shown.toStdString();
    std::ifstream in(dir / "report.html");
    const std::string html{std::istreambuf_iterator<char>(in), {}};
    EXPECT_NE(html.find("ライブラリ: 2 試合"), std::string::npos);
    EXPECT_NE(html.find("試合時間 (分)"), std::string::npos);
    EXPECT_TRUE(fs::exists(dir / "report-1.png"));
}

TEST_F(LibraryScreens, ASaveShowsInTheOpenSearchWithinTwoSeconds) {
    LibraryWindow* w = openLibrary();
    ASSERT_NE(w, nullptr);
    QTest::mouseClick(w->commentEdit, Qt::LeftButton);
    typeJapanese("新");
    ASSERT_TRUE(QTest::qWaitFor([&] { return countText(w) == "0件"; }, 3000));

    main->openVideo(season.tokyo.string());
    ASSERT_TRUE(QTest::qWaitFor([&] { return main->tagDataModel.data.size() == 3; }, 3000));
    // Back to the main window, as a click on it would make it active.
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    press("A0", 9);
    QTest::mouseClick(edit->commentTextField->viewport(), Qt::LeftButton);
    typeJapanese("新しい");
    click("onCommentAdd");
    dialogs.answers = {1}; // 上書きしますか？ はい
    click("window_save");
    ASSERT_FALSE(main->m_fSave);
    ASSERT_TRUE(QTest::qWaitFor([&] { return countText(w) == "1件"; }, 2000))
        << countText(w).toStdString();
    EXPECT_EQ(w->hitModel()->hits().front().comment, "新しい");

    // Another process changes the library (the command line indexes a session
    // saved elsewhere): the open search shows it within two seconds.
    ASSERT_EQ(TagFileManager::saveCSVFile(TagFileManager::sessionFilePath(season.osaka.string()),
                                          {tag(false, 3, "トライ", "新人")}, true),
              "");
    QProcess other;
    other.start(RUCKTAG_APP, {"library", "scan", "--database", QString::fromStdString(database)});
    ASSERT_TRUE(other.waitForFinished(20000));
    ASSERT_EQ(other.exitCode(), 0) << other.readAllStandardError().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return countText(w) == "2件"; }, 2000))
        << countText(w).toStdString();
}

TEST_F(LibraryScreens, ALibraryThatCannotBeOpenedIsSaidInTheWindowAndSavingGoesOn) {
    // A folder where the file should be.
    fs::create_directories(database);
    openVideo("current.mp4");
    LibraryWindow* w = libraryWindow();
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->problemLabel->isVisible(); }, 5000));
    EXPECT_FALSE(main->library()->isOpen());
    // Said once in the header's status area; tagging and saving go on.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->libraryStatus()->text().isEmpty(); }, 5000));
    EXPECT_TRUE(window->libraryStatus()->text().startsWith("シーズンライブラリを使えません。"));
    press("A0", 5);
    click("window_save");
    EXPECT_FALSE(main->m_fSave);
    EXPECT_TRUE(fs::exists(dir / "current.csv"));
    main->library()->waitIdle(); // tried, and waiting
    EXPECT_EQ(main->library()->pendingSaves(), 1);

    // Back: the waiting save goes in as the library opens, not at the next
    // retry, and the status clears.
    fs::remove_all(database);
    main->library()->open();
    main->library()->waitIdle(); // the opening
    main->library()->waitIdle(); // what the opening queued
    EXPECT_TRUE(main->library()->isOpen());
    EXPECT_EQ(main->library()->pendingSaves(), 0);
    EXPECT_TRUE(window->libraryStatus()->text().isEmpty());
}

// The server's own (English) words come after a Japanese sentence that says
// what they mean, in the window and in the header.
TEST_F(LibraryScreens, AServerThatIsNotRunningIsExplainedInJapanese) {
    const fs::path nowhere = dir / "no-server";
    fs::create_directories(nowhere);
    const std::string url = "postgresql:///season?host=" + nowhere.string();
    ::setenv("RUCKTAG_LIBRARY", url.c_str(), 1);
    LibraryWindow* w = libraryWindow();
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->problemLabel->isVisible(); }, 10000));
    const QString said = w->problemLabel->text();
    EXPECT_TRUE(said.startsWith("サーバーが動いていないか、接続先の指定が違います。"))
        << said.toStdString();
    EXPECT_TRUE(said.contains("No such file or directory")) << said.toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->libraryStatus()->text().isEmpty(); }, 5000));
    EXPECT_TRUE(window->libraryStatus()->text().contains(
        "（サーバーが動いていないか、接続先の指定が違います。"))
        << window->libraryStatus()->text().toStdString();
    // Said again (a silent server answering while still away): the same words.
    EXPECT_EQ(LibraryClient::lostText(said), window->libraryStatus()->text());
}

// The real player on two fixture matches: the results play as one sequence
// across both (a double click on a result is the fake player's matter).
TEST(LibraryWindowReal, TheSequenceCrossesMatches) {
    const fs::path dir =
        fs::temp_directory_path() / ("rucktag-libreal-" + std::to_string(getpid()));
    fs::remove_all(dir);
    const Season season(dir);
    const std::string database = (dir / "library.sqlite").string();
    ::setenv("RUCKTAG_LIBRARY", database.c_str(), 1);
    {
        RecordingDialogs dialogs;
        MainWindow window;
        window.resize(1366, 740);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        MainViewController* main = window.mainViewController();
        MpvPlayer* mpv = main->MediaPlayer->mpvPlayer();
        ASSERT_NE(mpv, nullptr);
        main->openVideo(season.tokyo.string());
        ASSERT_TRUE(QTest::qWaitFor([&] { return mpv->hasCurrentItem(); }, 10000));

        QTest::mouseClick(window.findChild<QAbstractButton*>("window_library"), Qt::LeftButton);
        auto* w = window.findChild<LibraryWindow*>("libraryWindow");
        ASSERT_NE(w, nullptr);
        dialogs.paths = {season.folder.string()};
        QTest::mouseClick(w->addFolderButton, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return countText(w) == "5件"; }, 10000));

        // Each tag and 1 s after it, in the results' order (東京's three,
        // then 大阪's two), switching videos once.
        main->playViewController->momentLeadSpinBox->setValue(0);
        main->playViewController->momentLagSpinBox->setValue(1);
        std::vector<std::pair<std::string, int>> started;
        QObject::connect(w->sequence, &LibrarySequence::momentStarted,
                         [&](int i) { started.emplace_back(mpv->currentPath(), i); });
        QSignalSpy ended(w->sequence, &LibrarySequence::ended);
        QTest::mouseClick(w->sequenceButton, Qt::LeftButton);
        EXPECT_EQ(w->sequenceButton->text(), "停止");
        ASSERT_TRUE(ended.wait(30000));
        const auto& moments = w->sequence->moments();
        ASSERT_EQ(moments.size(), 5u);
        ASSERT_EQ(started.size(), 5u);
        for (size_t i = 0; i < started.size(); ++i)
            EXPECT_EQ(started[i], std::pair(moments[i].video, static_cast<int>(i))) << i;
        EXPECT_EQ(moments.front().video, season.tokyo.string());
        EXPECT_EQ(moments.back().video, season.osaka.string());
        EXPECT_NEAR(mpv->currentTime(), 7.0, 0.2);
        EXPECT_EQ(w->sequenceButton->text(), "連続再生");
        main->library()->waitIdle();
    }
    ::unsetenv("RUCKTAG_LIBRARY");
    fs::remove_all(dir);
}

// A club's server that stops in the middle of the work: said once in the
// header, tagging and saving go on, and the saves reach the library once the
// server is back, each indexed once (from its file).
TEST_F(LibraryScreens, AServerThatGoesAwayIsSaidOnceAndTheSavesFollowOnceWhenItIsBack) {
    if (!librarytest::serverBinariesPresent())
        GTEST_SKIP() << librarytest::kNoServerBinaries;
    OwnServer server;
    ASSERT_FALSE(server.url.isEmpty()) << server.why.toStdString();
    QString& why = server.why;
    const QString& url = server.url;

    LibraryWindow* w = openLibrary();
    ASSERT_NE(w, nullptr);
    const qint64 lastId = pgNumber(url, "SELECT max(id) FROM tags");
    ASSERT_GT(lastId, 0);
    QSignalSpy notices(main->libraryLink(), &LibraryLink::notice);
    ASSERT_TRUE(librarytest::pgServer("stop", server.dir, &why)) << why.toStdString();

    main->openVideo(season.tokyo.string());
    ASSERT_TRUE(QTest::qWaitFor([&] { return main->tagDataModel.data.size() == 3; }, 3000));
    QApplication::setActiveWindow(window.get());
    for (double at : {9.0, 11.0}) {
        press("A0", at);
        dialogs.answers = {1}; // 上書きしますか？ はい
        QElapsedTimer t;
        t.start();
        click("window_save");
        EXPECT_LT(t.elapsed(), 1000) << "the save waited for the library";
        EXPECT_FALSE(main->m_fSave);
    }
    EXPECT_EQ(TagFileManager::readCSVFile(TagFileManager::sessionFilePath(season.tokyo.string()))
                  .rows.size(),
              5u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->libraryStatus()->text().isEmpty(); }, 10000));
    EXPECT_TRUE(window->libraryStatus()->text().startsWith("シーズンライブラリを使えません。"));
    QTest::qWait(1500);
    int said = 0;
    for (const auto& n : notices)
        said += n.at(0).toString().isEmpty() ? 0 : 1;
    EXPECT_EQ(said, 1);

    // Back: the status clears and the two new tags are found.
    ASSERT_TRUE(librarytest::pgServer("start", server.dir, &why)) << why.toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->libraryStatus()->text().isEmpty(); }, 20000));
    EXPECT_TRUE(shows(w, 7, [](const auto&) { return true; })) << countText(w).toStdString();
    main->library()->waitIdle();
    QTest::qWait(1500); // a second indexing would come within the reconnection's second
    main->library()->waitIdle();
    // 東京's five tags written once: the ids go on by five, not ten.
    EXPECT_EQ(pgNumber(url, "SELECT count(*) FROM tags"), 7);
    EXPECT_EQ(pgNumber(url, "SELECT max(id) FROM tags"), lastId + 5);
    // The library closes before its server goes.
    window.reset();
    main = nullptr;
}

// A save the library refuses (here a rule of the database's own) is said with
// the video's name and the reason, never as the library being away, and the
// next video's save goes in.
TEST_F(LibraryScreens, ASaveTheLibraryRefusesIsSaidByNameAndTheOtherSavesGoOn) {
    LibraryWindow* w = openLibrary();
    ASSERT_NE(w, nullptr);
    main->library()->waitIdle();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "refuse");
        db.setDatabaseName(QString::fromStdString(database));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec("CREATE TRIGGER refuse BEFORE INSERT ON tags WHEN NEW.match_id = "
                           "(SELECT id FROM matches WHERE title LIKE '%東京%') BEGIN SELECT "
                           "RAISE(ABORT, 'no tags for this match'); END"))
            << q.lastError().text().toStdString();
    }
    QSqlDatabase::removeDatabase("refuse");

    for (const auto& [video, tags] : {std::pair{season.tokyo, 3u}, std::pair{season.osaka, 2u}}) {
        tagAndSave(video, tags, 20);
        main->library()->waitIdle();
    }
    // 大阪's save is in: its three tags beside 東京's three of before.
    EXPECT_TRUE(shows(w, 6, [](const auto&) { return true; })) << countText(w).toStdString();
    const QString status = window->libraryStatus()->text();
    EXPECT_TRUE(status.startsWith("「2026-09-06 東京.mp4」のタグはライブラリに入れられません"
                                  "でした。"))
        << status.toStdString();
    EXPECT_TRUE(status.contains("no tags for this match")) << status.toStdString();
    EXPECT_TRUE(main->library()->isOpen());
    EXPECT_FALSE(w->problemLabel->isVisible()) << w->problemLabel->text().toStdString();
    EXPECT_EQ(main->library()->pendingSaves(), 0);
}

// A server that stops answering (its processes stopped) is said as away within
// seconds; closing the window does not wait for it; the save made meanwhile
// reaches the library at the next start.
TEST_F(LibraryScreens, AFrozenServerIsSaidAsAwayClosingDoesNotWaitAndTheNextStartCatchesUp) {
    if (!librarytest::serverBinariesPresent())
        GTEST_SKIP() << librarytest::kNoServerBinaries;
    OwnServer server;
    ASSERT_FALSE(server.url.isEmpty()) << server.why.toStdString();
    const QString& url = server.url;
    LibraryWindow* w = openLibrary();
    ASSERT_NE(w, nullptr);
    main->library()->waitIdle();

    librarytest::signalServer(server.dir, SIGSTOP);
    tagAndSave(season.tokyo, 3, 9);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->libraryStatus()->text().isEmpty(); }, 10000));
    EXPECT_TRUE(window->libraryStatus()->text().startsWith("シーズンライブラリを使えません。"));
    EXPECT_TRUE(window->libraryStatus()->text().contains("ライブラリのサーバーが応答しません。"));
    EXPECT_FALSE(main->library()->isOpen());
    EXPECT_TRUE(w->problemLabel->isVisible());

    QElapsedTimer t;
    t.start();
    window.reset();
    main = nullptr;
    EXPECT_LT(t.elapsed(), 1000) << "closing waited for the server";
    EXPECT_TRUE(LibraryClient::owedScans().contains(url));

    // The next start, the server answering again: the save is found.
    librarytest::signalServer(server.dir, SIGCONT);
    makeWindow();
    size_t found = 0;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            main->library()->search(
                {}, [&](const std::vector<library::Hit>& h, const QString&) { found = h.size(); });
            main->library()->waitIdle();
            return found == 6;
        },
        20000))
        << found;
    EXPECT_FALSE(LibraryClient::owedScans().contains(url)) << "scanned once, not at every start";
    window.reset();
    main = nullptr;
}
