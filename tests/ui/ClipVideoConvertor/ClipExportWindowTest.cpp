#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>

#include "ClipVideoConvertor/AngleChoice.h"
#include "ClipVideoConvertor/ClipViewController.h"
#include "support/FileSizeLimit.h"
#include "support/MediaProbe.h"
#include "support/ScreenFixture.h"

namespace fs = std::filesystem;

// The main view on the fake player, for the export window of clips.
class ClipExportWindow : public Screens {};

TEST_F(ClipExportWindow, ClipOutputNeedsExactlyOneTickedClip) {
    click("onClipOutput"); // empty table: nothing
    EXPECT_TRUE(dialogs.shown.empty());
    openVideo("a.mp4");
    for (double t : {1.0, 5.0})
        markClip(t, t + 2);
    click("onClipOutput");
    EXPECT_EQ(dialogs.shown.back().message, "切り取るビデオクリップを選択してください。");
    clickHeader(edit->clipTableView, 0);
    click("onClipOutput");
    EXPECT_EQ(dialogs.shown.back().message,
              "複数を同時に変換できませんので、ひとつだけ選択してください。");
    EXPECT_TRUE(dialogs.panels.empty());
}

TEST_F(ClipExportWindow, ExportingATickedClipWritesTheFileAndReports) {
    fake->hasItem = true;
    fake->path = fixturePath("clip.mp4");
    fake->length = 10.0;
    markClip(2.0, 4.0);
    clickCell(edit->clipTableView, 0, 0);
    fake->currentRate = 1.0f;

    dialogs.paths = {std::nullopt};
    click("onClipOutput");
    EXPECT_EQ(fake->currentRate, 0.0f); // paused at once, cancelled or not
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.panels.empty(); }, 2000));
    EXPECT_EQ(dialogs.panels[0].panel.proposedName, "ClipVideo");
    EXPECT_EQ(dialogs.panels[0].panel.extensions, (QStringList{"mp4", "mts", "m2ts"}));
    EXPECT_EQ(window->findChildren<ClipWindowController*>().size(), 0);

    const auto out = dir / "ClipVideo.m2ts";
    dialogs.paths = {out.string()};
    // A double click on the clip's row exports it, ticked or not.
    const QRect row = edit->clipTableView->visualRect(edit->clipModel()->index(0, 1));
    QTest::mouseDClick(edit->clipTableView->viewport(), Qt::LeftButton, {}, row.center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs.panels.size() == 2; }, 2000));
    auto windows = window->findChildren<ClipWindowController*>();
    ASSERT_EQ(windows.size(), 1);
    ClipViewController* job = windows[0]->contentViewController();
    EXPECT_EQ(job->startTime, 2.0f);
    EXPECT_EQ(job->endTime, 4.0f);
    EXPECT_EQ(job->duration, 10.0f);
    EXPECT_EQ(job->angleChoice, nullptr); // no angles: no choice, the export runs
    QString label;
    int bar = -1;
    QObject::connect(job, &ClipViewController::finished, [&] {
        label = job->progressLabel->text();
        bar = job->progressBar->value();
    });
    QPointer<ClipWindowController> windowAlive(windows[0]);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return dialogs.saw("クリップ出力が完了しました。"); }, 20000));
    EXPECT_EQ(dialogs.shown.back().style, "success");
    EXPECT_EQ(dialogs.shown.back().message,
              "クリップ出力が完了しました。\n書き出し先:\n" + out.string());
    EXPECT_EQ(label, "100.0%");
    EXPECT_EQ(bar, 100);
    EXPECT_TRUE(QTest::qWaitFor([&] { return windowAlive.isNull(); }, 2000)); // gone after
    EXPECT_GT(std::filesystem::file_size(out), 1000u); // MPEG-4 under an .m2ts name
}

TEST_F(ClipExportWindow, FailedAndUnfinishedClipsReportTheirOutcome) {
    // What failed, where, and why, in the user's words with the system's.
    auto fail = [&](const fs::path& target, float end) {
        dialogs.shown.clear();
        auto* failing = new ClipWindowController(window.get());
        ClipViewController* job = failing->contentViewController();
        job->clipInputUrl = fixturePath("clip.mp4");
        job->clipOutputUrl = target.string();
        job->endTime = end;
        failing->showWindow();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dialogs.shown.empty(); }, 20000));
        return dialogs.shown.empty() ? RecordingDialogs::Shown{} : dialogs.shown.back();
    };
    const fs::path missing = dir / "missing" / "x.mp4";
    RecordingDialogs::Shown shown = fail(missing, 1.0f);
    EXPECT_EQ(shown.style, "error");
    EXPECT_EQ(shown.message, "クリップ出力に失敗しました。\n書き出すファイルを作れませんでした。\n"
                             "ファイル: " +
                                 missing.string() + "\n理由: フォルダー「" +
                                 (dir / "missing").string() +
                                 "」がありません（No such file or directory）");
    // The disk fills up half way: the file written so far goes too.
    {
        FileSizeLimit limit(20000);
        shown = fail(dir / "full.mp4", 8.0f);
    }
    EXPECT_EQ(shown.message, "クリップ出力に失敗しました。\nファイルを書き込めませんでした。\n"
                             "ファイル: " +
                                 (dir / "full.mp4").string() +
                                 "\n理由: ファイルの大きさの上限を超えました（File too large）");
    EXPECT_EQ(filesIn(dir), 0);

    // A clip never ended, starting after 0: the window closes at once, the
    // video is exported from the start to its end, and the report follows.
    auto* late = new ClipWindowController(window.get());
    ClipViewController* tail = late->contentViewController();
    tail->clipInputUrl = fixturePath("clip.mp4");
    tail->clipOutputUrl = (dir / "tail.mp4").string();
    tail->startTime = 8.0f;
    tail->duration = 10.0f;
    late->showWindow();
    EXPECT_FALSE(late->isVisible());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return dialogs.saw("クリップ出力が完了しました。"); }, 20000));
    EXPECT_TRUE(std::filesystem::exists(dir / "tail.mp4"));
}

// No export replaces the open video or its session file, by whatever name
// they are given: through "..", a link, without the extension.
TEST_F(ClipExportWindow, NoExportReplacesTheOpenVideoOrItsSession) {
    const fs::path video = dir / "match.mp4";
    fs::copy_file(fixturePath("clip.mp4"), video);
    const auto size = fs::file_size(video);
    fs::create_directories(dir / "sub");
    fs::create_symlink(video, dir / "sub" / "alias.mp4");
    openVideo("match.mp4", 10.0);
    press("A0", 1);
    click("window_save"); // the session file
    const std::string session = slurp(dir / "match.csv");
    markClip(2.0, 4.0);
    clickCell(edit->clipTableView, 0, 0);
    play->momentLeadSpinBox->setValue(1);
    const std::string itself =
        "出力先に、開いている動画そのものが指定されています。別の名前を指定してください。";
    const std::string itsTags = "出力先に、開いている動画のセッションファイル（タグの保存先）が指定"
                                "されています。別の名前を指定してください。";
    struct Case {
        const char* screen;
        const char* button;
        fs::path target;
        const std::string& said;
    };
    const Case cases[] = {
        {"edit", "onClipOutput", dir / "sub" / ".." / "match.mp4", itself},
        {"edit", "onClipOutput", dir / "sub" / "alias.mp4", itself},
        {"edit", "onClipOutput", dir / "match.csv", itsTags},
        {"edit", "onTagCSVOutput", dir / "match.csv", itsTags},
        {"edit", "onTagCSVOutput", dir / "match", itsTags}, // once ".csv" is added
        {"play", "onTallyCSVOutput", dir / "match.csv", itsTags},
        {"play", "onHighlightOutput", dir / "sub" / "alias.mp4", itself},
        {"play", "onHighlightOutput", dir / "match.csv", itsTags},
        {"per moment", "onHighlightOutput", dir / "match.mp4", itself},
        {"per moment", "onHighlightOutput", dir / "match.csv", itsTags},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.button) + " " + c.target.string());
        click(c.screen == std::string("edit") ? "menu_edit_mode_button" : "menu_play_mode_button");
        if (play->highlightPerTagCheckBox->isChecked() != (c.screen == std::string("per moment")))
            QTest::mouseClick(play->highlightPerTagCheckBox, Qt::LeftButton);
        const size_t shown = dialogs.shown.size();
        dialogs.paths = {c.target.string()};
        click(c.button);
        ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs.shown.size() == shown + 1; }, 2000));
        EXPECT_EQ(dialogs.shown.back().message, c.said);
        EXPECT_TRUE(window->findChildren<ClipWindowController*>().empty());
    }
    // Had an export started, it would have replaced them by now.
    QTest::qWait(1500);
    EXPECT_EQ(fs::file_size(video), size);
    EXPECT_EQ(slurp(dir / "match.csv"), session);
    EXPECT_EQ(filesIn(dir), 3);
}

TEST_F(ClipExportWindow, CancelStopsAClipExportAndKeepsTheFileThatWasThere) {
    fake->hasItem = true;
    fake->path = fixturePath("clip-long.mp4");
    fake->length = 300.0;
    markClip(1.0, 299.0); // long enough to be stopped well before its end
    clickCell(edit->clipTableView, 0, 0);
    const fs::path out = dir / "ClipVideo.mp4";
    { std::ofstream(out) << "old"; }
    dialogs.paths = {out.string()};
    click("onClipOutput");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window->findChildren<ClipWindowController*>().size() == 1; }, 2000));
    ClipWindowController* progress = window->findChildren<ClipWindowController*>()[0];
    QPointer<ClipWindowController> alive(progress);
    auto* cancel = progress->findChild<QPushButton*>("clipProgressCancel");
    ASSERT_NE(cancel, nullptr);
    ASSERT_TRUE(cancel->isVisible());
    EXPECT_EQ(cancel->text(), "キャンセル");
    QTest::mouseClick(cancel, Qt::LeftButton);
    // The window goes once the export has stopped; no report follows a
    // cancel the user asked for.
    ASSERT_TRUE(QTest::qWaitFor([&] { return alive.isNull(); }, 10000));
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(slurp(out), "old");
    EXPECT_EQ(filesIn(dir), 1); // no temporary file either
}

TEST_F(ClipExportWindow, TheAngleChoiceExportsTheChosenLayout) {
    // The match's angle: a 50 fps camera started 1.2 s after the main one.
    fake->hasItem = true;
    fake->path = fixturePath("clip.mp4");
    fake->length = 10.0;
    main->tagDataModel.match.angles = {{"エンド", fixturePath("angle50.mp4"), -1.2, 1.0}};
    markClip(1.0, 2.0);
    clickCell(edit->clipTableView, 0, 0);
    const fs::path out = dir / "angles.mp4";
    dialogs.paths = {out.string()};
    click("onClipOutput");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window->findChildren<ClipWindowController*>().size() == 1; }, 2000));
    ClipViewController* job =
        window->findChildren<ClipWindowController*>()[0]->contentViewController();
    ASSERT_NE(job->angleChoice, nullptr);
    QComboBox* combo = job->angleChoice->combo;
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    EXPECT_EQ(items, (QStringList{"メイン", "アングル: エンド", "左右に並べる", "2×2", "順番に"}));
    EXPECT_FALSE(fs::exists(out)); // nothing before 書き出す
    chooseFilter(combo, "左右に並べる");
    QTest::mouseClick(job->startButton, Qt::LeftButton);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return dialogs.saw("クリップ出力が完了しました。"); }, 30000));
    // Main frames 25..49 on the left; on the right the angle's frame of the
    // same instant, black before its camera started.
    std::vector<int> left, right;
    for (int k = 25; k < 50; ++k) {
        left.push_back(k);
        right.push_back(k < 30 ? 0 : 2 * k - 60);
    }
    EXPECT_EQ(frameNumbers(out, 12, "320:240:0:0"), left);
    EXPECT_EQ(frameNumbers(out, 12, "320:240:320:0"), right);
}
