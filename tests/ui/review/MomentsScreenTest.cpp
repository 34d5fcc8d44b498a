// The play screen's moments: lead and lag boxes, sequence playback and the
// highlight export, driven through the real widgets.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <sys/file.h>

#include "ClipVideoConvertor/ClipViewController.h"
#include "player/MpvPlayer.h"
#include "player/MpvSoftwareRenderer.h"
#include "review/MomentSequence.h"
#include "support/AsUser.h"
#include "support/MediaFixtures.h"
#include "support/MediaProbe.h"
#include "support/ScreenFixture.h"
#include "timeline/TagTimeline.h"

namespace {

// Steps a spin box with its arrow keys, as a user would after clicking it.
void stepSpin(QSpinBox* box, int steps) {
    QTest::mouseClick(box->findChild<QLineEdit*>(), Qt::LeftButton);
    for (int i = 0; i < std::abs(steps); ++i)
        QTest::keyClick(QApplication::focusWidget(), steps > 0 ? Qt::Key_Up : Qt::Key_Down);
}

} // namespace

// The main view on the fake player, for the moments of the play screen.
class Moments : public Screens {};

TEST_F(Moments, SequencePlaysTheListedMomentsInTurn) {
    QSettings("Rucktag", "Rucktag").clear();
    openVideo("a.mp4", 600);
    press("A12", 100); // トライ
    press("B7", 50);   // ラインアウト
    press("A12", 300);
    press("A12", 305); // merges with the one before
    click("menu_play_mode_button");
    stepSpin(play->momentLeadSpinBox, 8 - play->momentLeadSpinBox->value());
    stepSpin(play->momentLagSpinBox, 4 - play->momentLagSpinBox->value());
    chooseFilter(play->tagFilterCombo, "トライ");
    ASSERT_EQ(play->tagTableData.size(), 3u);

    // The seek lands later: playing waits for it.
    fake->seeking = true;
    click("onSequencePlay");
    ASSERT_TRUE(play->sequence->isActive());
    EXPECT_EQ(fake->seeks.back(), 92.0);
    EXPECT_EQ(play->tagTableView->selectedRow(), 0);
    QTest::qWait(50);
    EXPECT_EQ(fake->currentRate, 0.0f);
    fake->seeking = false;
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake->currentRate == 1.0f; }, 1000));

    // Just before the end it pauses, jumps and plays on.
    const int pauses = fake->pauseCalls;
    fake->clock = 103.95;
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake->seeks.back() == 292.0; }, 1000));
    EXPECT_GT(fake->pauseCalls, pauses);
    EXPECT_EQ(play->tagTimeline->chosen(), play->tagTableData[1]->index);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake->currentRate == 1.0f; }, 1000));

    // Page Up / Page Down from whatever has the focus.
    type(Qt::Key_PageUp);
    EXPECT_EQ(fake->seeks.back(), 92.0);
    EXPECT_EQ(play->tagTableView->selectedRow(), 0);
    QTest::mouseClick(play->momentLagSpinBox->findChild<QLineEdit*>(), Qt::LeftButton);
    type(Qt::Key_PageDown);
    EXPECT_EQ(fake->seeks.back(), 292.0);
    EXPECT_EQ(play->momentLagSpinBox->value(), 4); // the box did not step
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake->currentRate == 1.0f; }, 1000));

    // The end of the list pauses.
    fake->clock = 309.0;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !play->sequence->isActive(); }, 1000));
    EXPECT_EQ(fake->currentRate, 0.0f);
}

TEST_F(Moments, SequenceKeepsSlowPlayAndEndsOnOtherActions) {
    openVideo("a.mp4", 600);
    press("A0", 100);
    press("B0", 200);
    click("menu_play_mode_button");
    clickCell(play->tagTableView, 0, 2); // the focus on the table
    main->MediaPlayer->timer.stop();

    type(Qt::Key_D);
    click("onSequencePlay");
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake->currentRate == 0.4f; }, 1000));
    EXPECT_FLOAT_EQ(play->sequence->rate(), 0.4f);

    // Shift alone does not end it.
    type(Qt::Key_Shift);
    EXPECT_TRUE(play->sequence->isActive());

    struct Ender {
        const char* name;
        std::function<void()> act;
    };
    const Ender enders[] = {
        {"key", [&] { type(Qt::Key_Right); }},
        {"space", [&] { type(Qt::Key_Space); }},
        {"transport button", [&] { click("mediaStop_play"); }},
        {"row click", [&] { clickCell(play->tagTableView, 1, 2); }},
        {"strip click",
         [&] {
             // Its seek comes once no double click can follow.
             const size_t seeks = fake->seeks.size();
             TagTimeline* strip = play->tagTimeline;
             QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(strip->width() / 2, 1));
             EXPECT_FALSE(play->sequence->isActive());
             ASSERT_TRUE(QTest::qWaitFor([&] { return fake->seeks.size() > seeks; }, 2000));
         }},
        {"edit screen", [&] { click("menu_edit_mode_button"); }},
        {"opening a video", [&] { openVideo("b.mp4", 600); }},
    };
    for (const Ender& e : enders) {
        SCOPED_TRACE(e.name);
        if (play->tagTableData.empty()) {
            click("menu_edit_mode_button");
            press("A0", 100);
        }
        if (!play->isVisible())
            click("menu_play_mode_button");
        click("onSequencePlay");
        ASSERT_TRUE(play->sequence->isActive());
        e.act();
        EXPECT_FALSE(play->sequence->isActive());
        // The sequence no longer moves the video past a moment's end.
        const size_t seeks = fake->seeks.size();
        fake->clock = 104.5;
        QTest::qWait(40);
        EXPECT_EQ(fake->seeks.size(), seeks);
    }
}

TEST_F(Moments, HighlightOutputWritesTheMomentsAndAFailureLeavesNothing) {
    openVideo("a.mp4", 10);
    press("A12", 3);
    press("B7", 8);
    fake->path = fixturePath("clip.mp4");
    click("menu_play_mode_button");
    stepSpin(play->momentLeadSpinBox, 1 - play->momentLeadSpinBox->value());
    stepSpin(play->momentLagSpinBox, 1 - play->momentLagSpinBox->value());

    dialogs.paths = {std::nullopt};
    click("onHighlightOutput");
    ASSERT_EQ(dialogs.panels.size(), 1u);
    EXPECT_EQ(dialogs.panels[0].panel.proposedName, "clip_ハイライト");
    EXPECT_TRUE(window->findChildren<ClipWindowController*>().empty());

    const fs::path out = dir / "Highlight.mp4";
    dialogs.paths = {out.string()};
    click("onHighlightOutput");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return dialogs.saw("ハイライト出力が完了しました。"); }, 30000));
    EXPECT_EQ(frameNumbers(out), frameSpans({{50, 99}, {175, 224}}));

    // One file per moment (their names and frames: the Highlights tests); a
    // failure leaves neither files nor the folder made for them.
    QTest::mouseClick(play->highlightPerTagCheckBox, Qt::LeftButton);
    fake->path = fixturePath("random.mp4");
    dialogs.shown.clear();
    dialogs.paths = {(dir / "Broken.mp4").string()};
    click("onHighlightOutput");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return dialogs.saw("ハイライト出力に失敗しました。"); }, 30000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !fs::exists(dir / "Broken"); }, 2000));
}

namespace {

class Highlights : public Screens {
protected:
    // A copy of the fixture `video` as match.mp4 with `session` as its
    // session file's rows, opened with the real button and shown on the play
    // screen with moments of one second either side of each tag, exported
    // one file per moment.
    void openMatch(const std::string& session, const std::string& video = "clip.mp4") {
        fs::copy_file(fixturePath(video), dir / "match.mp4");
        std::ofstream(dir / "match.csv", std::ios::binary) << kHeader + session;
        dialogs.paths = {(dir / "match.mp4").string()};
        click("mediaOpen_edit");
        ASSERT_TRUE(dialogs.shown.empty());
        click("menu_play_mode_button");
        stepSpin(play->momentLeadSpinBox, 1 - play->momentLeadSpinBox->value());
        stepSpin(play->momentLagSpinBox, 1 - play->momentLagSpinBox->value());
        QTest::mouseClick(play->highlightPerTagCheckBox, Qt::LeftButton);
        ASSERT_TRUE(play->highlightPerTagCheckBox->isChecked());
    }
    // The report of an export of `files` files into `folder`.
    static std::string doneIn(int files, const fs::path& folder) {
        return "ハイライト出力が完了しました。\n書き出し先のフォルダー（" + std::to_string(files) +
               "件のファイル）:\n" + folder.string();
    }
    static inline const std::string kHeader = "Team, INDEX, 再生時刻, タグ内容, コメント\n";
};

} // namespace

TEST_F(Highlights, PerMomentExportsClearLeftoversOfKilledOnes) {
    openMatch("A,1,0:00:03,トライ,\"\",3.0\n");
    // A killed export of other moments left its files in the folder; another
    // running export holds one; the rest are not ours.
    const fs::path folder = dir / "Moments";
    fs::create_directories(folder);
    for (const char* name : {".001_B_PG_0-00-01.mp4.Ab12Zz", ".002_A_UE_0-00-02.mp4.LiVe00",
                             ".notes.txt.Ab12Zz", ".1_A_x.mp4.Ab12Zz", "keep.txt"})
        std::ofstream(folder / name) << "left";
    const int held = ::open((folder / ".002_A_UE_0-00-02.mp4.LiVe00").c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    dialogs.paths = {(dir / "Moments.mp4").string()};
    click("onHighlightOutput");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.shown.empty(); }, 30000));
    EXPECT_EQ(dialogs.shown.back().message, doneIn(1, dir / "Moments"));
    ::close(held);
    EXPECT_EQ(namesIn(folder),
              (std::set<std::string>{".002_A_UE_0-00-02.mp4.LiVe00", ".1_A_x.mp4.Ab12Zz",
                                     ".notes.txt.Ab12Zz", "001_A_トライ_0-00-03.mp4", "keep.txt"}));
}

TEST_F(Moments, ZeroLeadAndLagSayWhyNothingPlaysOrIsExported) {
    openVideo("a.mp4", 600);
    click("menu_play_mode_button");
    click("onSequencePlay");
    click("onHighlightOutput");
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[0].message, "再生するタグがありません。");
    EXPECT_EQ(dialogs.shown[1].message, "出力するタグがありません。");

    click("menu_edit_mode_button");
    press("A12", 100);
    click("menu_play_mode_button");
    stepSpin(play->momentLeadSpinBox, -play->momentLeadSpinBox->value());
    stepSpin(play->momentLagSpinBox, -play->momentLagSpinBox->value());
    dialogs.shown.clear();
    click("onSequencePlay");
    EXPECT_FALSE(play->sequence->isActive());
    click("onHighlightOutput");
    const std::string why =
        "前と後が0秒のため、場面の長さが0です。前か後の秒数を増やしてください。";
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[0].message, why);
    EXPECT_EQ(dialogs.shown[1].message, why);
    EXPECT_TRUE(dialogs.panels.empty());
}

TEST_F(Highlights, AFolderThatCannotBeMadeIsToldWithItsReason) {
    openMatch("A,1,0:00:03,トライ,\"\",3.0\n");
    const fs::path locked = dir / "locked";
    fs::create_directories(locked);
    fs::permissions(locked,
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    dialogs.paths = {(locked / "Moments.mp4").string()};
    {
        AsUser user;
        click("onHighlightOutput");
    }
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].message,
              "フォルダーを作れませんでした。\nフォルダー: " + (locked / "Moments").string() +
                  "\n理由: 「" + locked.string() +
                  "」に書き込む権限がありません（Permission denied）");

    // A file stands where the folder would go.
    { std::ofstream(dir / "Taken") << "x"; }
    dialogs.paths = {(dir / "Taken.mp4").string()};
    click("onHighlightOutput");
    ASSERT_EQ(dialogs.shown.size(), 2u);
    const std::string taken = (dir / "Taken").string();
    EXPECT_EQ(dialogs.shown[1].message.rfind(
                  "フォルダーを作れませんでした。\nフォルダー: " + taken + "\n理由: 「" + taken +
                      "」はフォルダーではなく、ファイルです（",
                  0),
              0u)
        << dialogs.shown[1].message;
    EXPECT_TRUE(window->findChildren<ClipWindowController*>().empty());
}

TEST_F(Highlights, AnEarlierExportsFilesAreReplacedOrLeftForAFreshFolder) {
    openMatch("A,1,0:00:03,トライ,\"\",3.0\nB,2,0:00:08,ラインアウト,\"\",8.0\n");
    const fs::path folder = dir / "Moments";
    fs::create_directories(folder);
    for (const char* name :
         {"001_B_PG_0-00-01.mp4", "002_A_UE_0-00-02.mp4", "003_A_UE_0-00-05.mp4", "notes.txt"})
        std::ofstream(folder / name) << "old";
    const std::set<std::string> earlier = namesIn(folder);
    const std::set<std::string> ours = {"001_A_トライ_0-00-03.mp4",
                                        "002_B_ラインアウト_0-00-08.mp4"};
    const std::string asked =
        "フォルダー「" + folder.string() + "」には、前に書き出した場面のファイルが3件あります。\n";
    auto exportAnswering = [&](int answer) {
        dialogs.shown.clear();
        dialogs.answers = {answer};
        dialogs.paths = {(dir / "Moments.mp4").string()};
        click("onHighlightOutput");
        ASSERT_FALSE(dialogs.shown.empty());
        EXPECT_EQ(dialogs.shown[0].message.rfind(asked, 0), 0u) << dialogs.shown[0].message;
        if (answer != 2) {
            ASSERT_TRUE(QTest::qWaitFor(
                [&] { return dialogs.saw("ハイライト出力が完了しました。"); }, 30000));
        }
    };

    exportAnswering(2); // cancel: nothing written
    EXPECT_EQ(dialogs.shown.size(), 1u);
    EXPECT_TRUE(window->findChildren<ClipWindowController*>().empty());
    EXPECT_EQ(namesIn(folder), earlier);

    exportAnswering(0); // the default: a fresh folder beside it
    EXPECT_EQ(dialogs.shown[0].message,
              asked + "「新しいフォルダー」では「Moments_2」を作ってそこに書き出します。「置き換え"
                      "る」では、書き出しが終わったときに前のファイルを削除します。");
    EXPECT_EQ(dialogs.shown.back().message, doneIn(2, dir / "Moments_2"));
    EXPECT_EQ(namesIn(dir / "Moments_2"), ours);
    EXPECT_EQ(namesIn(folder), earlier);

    exportAnswering(1); // replacing: the earlier files go once the new ones are in
    std::set<std::string> replaced = ours;
    replaced.insert("notes.txt");
    EXPECT_EQ(namesIn(folder), replaced);
    EXPECT_EQ(frameNumbers(folder / "001_A_トライ_0-00-03.mp4"), frameSpans({{50, 99}}));
    EXPECT_EQ(slurp(folder / "notes.txt"), "old");
}

TEST_F(Highlights, CancelOrQuitMidExportLeavesNothingBehind) {
    // Three long moments of the five-minute video: exports to be stopped.
    openMatch("A,1,0:01:00,トライ,\"\",60.0\nB,2,0:03:00,PG,\"\",180.0\n"
              "A,3,0:04:50,DG,\"\",290.0\n",
              "clip-long.mp4");
    stepSpin(play->momentLeadSpinBox, 49);
    stepSpin(play->momentLagSpinBox, 49);
    const fs::path folder = dir / "Moments";
    fs::create_directories(folder);
    for (const char* name : {"001_B_PG_0-00-01.mp4", "002_A_UE_0-00-02.mp4"})
        std::ofstream(folder / name) << "old";
    { std::ofstream(dir / "Highlight.mp4") << "old"; }
    const std::set<std::string> before = namesIn(dir), earlier = namesIn(folder);
    auto runningJob = [&]() -> ClipViewController* {
        const auto jobs = window->findChildren<ClipViewController*>();
        return jobs.size() == 1 && !jobs[0]->isFinished() ? jobs[0] : nullptr;
    };

    // キャンセル while replacing an earlier export's files: they stay.
    dialogs.answers = {1};
    dialogs.paths = {(dir / "Moments.mp4").string()};
    click("onHighlightOutput");
    ClipViewController* job = runningJob();
    ASSERT_NE(job, nullptr);
    QPointer<ClipViewController> alive(job);
    auto* cancel = job->window()->findChild<QPushButton*>("clipProgressCancel");
    ASSERT_NE(cancel, nullptr);
    QTest::mouseClick(cancel, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return alive.isNull(); }, 10000));
    EXPECT_EQ(dialogs.shown.size(), 1u); // the question alone
    EXPECT_EQ(namesIn(folder), earlier);
    EXPECT_EQ(namesIn(dir), before);

    // Closing the application asks first; keeping on, or cancelling the
    // question about the tags after it, keeps the export running.
    click("menu_edit_mode_button");
    press("A0", 1); // an unsaved tag
    click("menu_play_mode_button");
    QTest::mouseClick(play->highlightPerTagCheckBox, Qt::LeftButton);
    dialogs.shown.clear();
    dialogs.paths = {(dir / "Highlight.mp4").string()};
    click("onHighlightOutput");
    job = runningJob();
    ASSERT_NE(job, nullptr);
    const std::string question = "書き出し中です。中止して終了しますか？\n中止すると、書き出し中の"
                                 "ファイルは残りません。";
    dialogs.answers = {0}; // 書き出しを続ける
    click("window_close");
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].message, question);
    EXPECT_FALSE(main->isTerminating());
    EXPECT_EQ(runningJob(), job);

    dialogs.answers = {1, 2}; // stop and quit; then cancel about the tags
    click("window_close");
    ASSERT_EQ(dialogs.shown.size(), 3u);
    EXPECT_EQ(dialogs.shown[2].message, "タグデータが変更されています。保存しますか？");
    EXPECT_FALSE(main->isTerminating());
    EXPECT_EQ(runningJob(), job);

    dialogs.answers = {1, 0}; // stop and quit; the tags are not wanted
    click("window_close");
    EXPECT_TRUE(main->isTerminating());
    EXPECT_EQ(dialogs.shown.size(), 5u); // no report of the stopped export
    EXPECT_EQ(slurp(dir / "Highlight.mp4"), "old");
    EXPECT_EQ(namesIn(dir), before);
}

// The real player: every frame shown during a sequence lies inside a moment.
TEST(MomentSequenceReal, ShowsOnlyFramesInsideTheMoments) {
    MpvPlayer player(std::map<std::string, std::string>{{"ao", "null"}});
    MpvSoftwareRenderer renderer(player);
    ASSERT_TRUE(renderer.isValid());
    renderer.setSize(QSize(320, 240));
    bool answered = false, ok = false;
    player.replaceCurrentItem(fixturePath("clip.mp4"), [&](bool r) {
        answered = true;
        ok = r;
        player.pause();
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return answered; }, 10000) && ok) << player.error();
    QSignalSpy restarted(&player, &MpvPlayer::playbackRestarted);
    player.seekExact(1.0);
    ASSERT_TRUE(restarted.wait(10000));
    QTest::qWait(200);

    auto moment = [](double s, double e) { return Moment{s, e, {}}; };
    // Forward, back, and to the end of the file.
    const std::vector<Moment> moments = {moment(1.0, 2.0), moment(6.0, 7.0), moment(3.0, 4.0),
                                         moment(9.2, 10.0)};
    std::vector<int> shown;
    // Each frame mpv draws, as drawn.
    QObject::connect(&renderer, &MpvSoftwareRenderer::frameReady,
                     [&] { shown.push_back(frameNumberOf(renderer.image())); });
    MomentSequence sequence;
    sequence.start(&player, moments, 1.0f);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !sequence.isActive(); }, 20000));
    QTest::qWait(200);

    const std::set<int> inside = [] {
        std::set<int> s;
        for (auto [a, b] : {std::pair{25, 49}, {150, 174}, {75, 99}, {230, 249}})
            for (int n = a; n <= b; ++n)
                s.insert(n);
        return s;
    }();
    ASSERT_FALSE(shown.empty());
    std::map<int, int> perMoment;
    for (int n : shown) {
        EXPECT_TRUE(inside.count(n)) << "frame " << n << " shown outside the moments";
        perMoment[n < 50 ? 0 : n < 100 ? 2 : n < 175 ? 1 : 3]++;
    }
    // Each moment was played through, not skipped.
    for (int m = 0; m < 4; ++m)
        EXPECT_GE(perMoment[m], 10) << "moment " << m;
    EXPECT_EQ(player.rate(), 0.0f);
}
