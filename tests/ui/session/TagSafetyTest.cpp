// The edges of "never lose a tag": the recovery question answered by reflex
// keys, two processes on one video, a session file changed behind our back,
// and pastes into the comment editor.
#include <QClipboard>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <csignal>
#include <fstream>

#include "journal/TagJournal.h"
#include "support/MediaFixtures.h"
#include "support/ScreenFixture.h"

namespace {

class TagSafety : public Screens {
protected:
    // Files anywhere under the journal folder's `sub` folder.
    long journalsIn(const char* sub) {
        const auto folder = journalFolder() / sub;
        std::error_code ec;
        if (!std::filesystem::is_directory(folder, ec))
            return 0;
        return filesIn(folder);
    }
    // Opens `name` with Qt's own message boxes; `answer` acts on the
    // recovery box once it is up. True when a recovery box was shown.
    bool openAnsweringTheRealBox(const std::string& name,
                                 const std::function<void(QMessageBox*)>& answer) {
        DialogProvider* recording = setDialogProvider(nullptr);
        bool shown = false;
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || shown || !box->text().contains("復元"))
                return;
            shown = true;
            // Keys go where the focus is: wait until the box has taken it.
            (void)QTest::qWaitFor(
                [box] {
                    QWidget* focus = QApplication::focusWidget();
                    return focus && box->isAncestorOf(focus);
                },
                2000);
            answer(box);
        });
        poll.start();
        openVideo(name);
        poll.stop();
        setDialogProvider(recording);
        return shown;
    }
    // Three tags on m.mp4, journaled, then the process dies.
    void tagAndCrash() {
        std::ofstream(dir / "m.mp4") << "video";
        openVideo("m.mp4");
        press("A0", 1);
        press("B12", 2);
        press("A3", 3);
        crashAndRestart();
    }
};

} // namespace

// Return takes the default button, which restores; Escape and the window's
// close button put the question off, keeping the journal and loading only the
// session file; only the discard button gives the changes up, and even then
// the journal is kept in the discarded folder.
TEST_F(TagSafety, TheRecoveryQuestionNeverThrowsChangesAwayOnAReflexKey) {
    tagAndCrash();
    const auto escape = [](QMessageBox*) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        QTest::keyClick(focus, Qt::Key_Escape);
    };
    ASSERT_TRUE(openAnsweringTheRealBox("m.mp4", escape));
    EXPECT_TRUE(main->tagDataModel.data.empty());
    EXPECT_FALSE(main->m_fSave);

    // Put off again, by closing the box as the window manager would.
    crashAndRestart();
    ASSERT_TRUE(openAnsweringTheRealBox("m.mp4", [](QMessageBox* box) { box->close(); }));
    EXPECT_TRUE(main->tagDataModel.data.empty());

    crashAndRestart();
    ASSERT_TRUE(openAnsweringTheRealBox("m.mp4", [](QMessageBox* box) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_TRUE(focus && box->isAncestorOf(focus));
        QTest::keyClick(focus, Qt::Key_Return);
    }));
    EXPECT_EQ(names(main->tagDataModel.data),
              (std::vector<std::string>{"ラック", "トライ", "キック"}));
    EXPECT_TRUE(main->m_fSave);

    // Restored, the journal goes on from there; a discard keeps it aside.
    press("B0", 4);
    crashAndRestart();
    const long discardedBefore = journalsIn("discarded");
    ASSERT_TRUE(openAnsweringTheRealBox("m.mp4", [](QMessageBox* box) {
        for (QAbstractButton* b : box->buttons())
            if (b->text() == "破棄する")
                QTest::mouseClick(b, Qt::LeftButton);
    }));
    EXPECT_TRUE(main->tagDataModel.data.empty());
    ASSERT_TRUE(main->tagJournal.flush());
    EXPECT_EQ(journalsIn("discarded"), discardedBefore + 1);
    crashAndRestart();
    dialogs.shown.clear();
    openVideo("m.mp4");
    EXPECT_TRUE(dialogs.shown.empty());
}

// A session file rewritten by someone else since it was read is named in the
// save question, and "no" leaves it as they wrote it.
TEST_F(TagSafety, SavingOverASessionChangedSinceItWasReadSaysSo) {
    openVideo("m.mp4");
    press("A0", 1);
    click("window_save");
    press("B0", 2);
    dialogs.shown.clear();
    click("window_save"); // our own file: the ordinary question
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown[0].message, "保存データがあります。上書きしますか？");

    const std::string theirs = "Team, INDEX, 再生時刻, タグ内容, コメント\n"
                               "A,1,0:00:05,PG,\"theirs\",5.0\n";
    std::ofstream(dir / "m.csv") << theirs;
    press("A3", 3);
    dialogs.shown.clear();
    dialogs.answers.push_back(0); // no
    click("window_save");
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown[0].message.rfind("セッションファイルは、読み込んだ後に", 0), 0u);
    EXPECT_EQ(slurp(dir / "m.csv"), theirs);
    EXPECT_TRUE(main->m_fSave);
}

// Pastes of an empty clipboard, of data without text and of rich text never
// crash the comment editor; text arrives as plain text.
TEST_F(TagSafety, PastingIntoTheCommentEditorTakesPlainTextOnly) {
    openVideo("m.mp4");
    press("A0", 1);
    clickCell(edit->tagTableView, 0, 3);
    QTest::mouseClick(edit->commentTextField->viewport(), Qt::LeftButton);
    ASSERT_EQ(QApplication::focusWidget(), edit->commentTextField);
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    type(Qt::Key_V, Qt::ControlModifier);
    clipboard->setMimeData(new QMimeData);
    type(Qt::Key_V, Qt::ControlModifier);
    auto* odd = new QMimeData;
    odd->setData("application/x-odd", "zz");
    clipboard->setMimeData(odd);
    type(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit->commentTextField->toPlainText(), "");
    auto* rich = new QMimeData;
    rich->setHtml("<b>bold</b> pass");
    rich->setText("bold pass");
    clipboard->setMimeData(rich);
    type(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit->commentTextField->toPlainText(), "bold pass");
    click("onCommentAdd");
    EXPECT_EQ(main->tagDataModel.data[0]->comment, "bold pass");
}

// A second process on a video that another records only shows it: it is
// told, never offered the live journal, records and saves nothing. Once the
// first process dies, its journal is a left-over like any other. The same
// holds for a match recorded live, killed while it records.
class SecondProcess : public TagSafety, public ::testing::WithParamInterface<bool> {};

TEST_P(SecondProcess, OnTheSameVideoOnlyShowsIt) {
    const bool live = GetParam();
    const std::string name = live ? "match.ts" : "match.mp4";
    const auto video = dir / name;
    if (!live)
        std::filesystem::copy_file(fixturePath("clip.mp4"), video);
    QProcess first;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_STATE_HOME", QString::fromStdString(state));
    // The driver writes squads there: not into a folder another test shares.
    env.insert("XDG_DATA_HOME", QString::fromStdString((dir / "data").string()));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("RUCKTAG_DRIVER_LIVE", live ? "1" : "0");
    first.setProcessEnvironment(env);
    first.start(RUCKTAG_TAGGING_DRIVER, {QString::fromStdString(video.string()), "20"});
    ASSERT_TRUE(first.waitForStarted(10000));
    QByteArray out;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            out += first.readAllStandardOutput();
            return out.count("\nT ") >= 3;
        },
        // A recording opens once its first second is written.
        live ? 60000 : 20000))
        << out.toStdString();

    openVideo(name);
    EXPECT_TRUE(main->isViewOnly());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].message.rfind("この動画は別のRucktagウィンドウで開かれていて", 0),
              0u);
    press("A0", 1);
    EXPECT_TRUE(main->tagDataModel.data.empty());
    EXPECT_EQ(dialogs.shown.size(), 2u);
    click("window_save");
    EXPECT_FALSE(std::filesystem::exists(dir / "match.csv"));

    // Killed mid-work: the next open is asked about its tags.
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    ASSERT_TRUE(first.waitForFinished(10000));
    out += first.readAllStandardOutput();
    const long pressed = out.count("\nT ");
    ASSERT_GE(pressed, 3);
    if (live) { // what was recorded stays
        EXPECT_GT(std::filesystem::file_size(video), 0u);
    }
    crashAndRestart();
    dialogs.shown.clear();
    openVideo(name);
    EXPECT_FALSE(main->isViewOnly());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].title, "復元");
    // A press may be cut short by the kill before its record is written.
    EXPECT_GE(static_cast<long>(main->tagDataModel.data.size()), pressed - 2);
}

INSTANTIATE_TEST_SUITE_P(TagSafety, SecondProcess, ::testing::Bool());
