// Starting and ending a live recording through the real widgets: the
// new-recording dialog's choices and refusals, then a recording coded, ended
// and turned into an MP4 with every tag kept.
#include <QLineEdit>
#include <QRadioButton>
#include <cmath>
#include <optional>

#include "SubModuleClass/TagFileManager.h"
#include "live/LiveRecording.h"
#include "live/NewRecordingDialog.h"
#include "support/AsUser.h"
#include "support/Deadline.h"
#include "support/ScreenFixture.h"

namespace {

struct Choice {
    bool devices;         // a grabber is plugged in
    const char* choice;   // the source's radio button clicked
    int format;           // the grabber's format item chosen (0: the device's own)
    const char* url;      // typed into the URL field
    const char* name;     // typed as the file's name
    const char* existing; // a file already in the folder
    const char* folder;   // "" the scratch folder, "missing", "locked"
    const char* problem;  // how the refusal begins; "" taken
    const char* source;   // taken: url|format|options
    const char* file;     // taken: the recording's file in the folder
};

std::ostream& operator<<(std::ostream& os, const Choice& c) {
    return os << c.choice << " " << c.url << " " << c.name << " " << c.folder;
}

class LiveScreens : public Screens {
protected:
    static void replaceText(QLineEdit* field, const std::string& text) {
        QTest::mouseClick(field, Qt::LeftButton);
        type(Qt::Key_A, Qt::ControlModifier);
        type(Qt::Key_Backspace);
        typeText(text.c_str());
    }
    // Team, name and time of each tag, in order.
    static std::vector<std::string> coded(const std::vector<std::shared_ptr<TagRowData>>& tags) {
        std::vector<std::string> out;
        for (const auto& t : tags)
            out.push_back(std::string(t->team ? "A " : "B ") + t->name + " " +
                          std::to_string(std::lround(t->time_val * 1000)));
        return out;
    }
};

class RecordingChoices : public LiveScreens, public ::testing::WithParamInterface<Choice> {
protected:
    static std::vector<VideoDevice> grabber() {
        return {{"/dev/video7",
                 "USB3 HDMI Capture",
                 {{"mjpeg", "Motion-JPEG", 1920, 1080}, {"yuyv422", "YUYV 4:2:2", 1280, 720}}}};
    }
    static std::string describe(const LiveSource& s) {
        std::string options;
        for (const auto& [k, v] : s.options)
            options += (options.empty() ? "" : " ") + k + "=" + v;
        return s.url + "|" + s.format + "|" + options;
    }
};

} // namespace

TEST_P(RecordingChoices, AreTakenOrRefusedWithTheirReason) {
    const Choice& c = GetParam();
    std::filesystem::path folder = *c.folder ? dir / c.folder : dir;
    if (std::string(c.folder) == "locked") {
        std::filesystem::create_directories(folder);
        std::filesystem::permissions(folder, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::remove);
    }
    if (*c.existing)
        std::ofstream(dir / c.existing) << "x";
    NewRecordingDialog dialog(c.devices ? grabber() : std::vector<VideoDevice>{}, window.get());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(dialog.findChild<QRadioButton*>(c.choice), Qt::LeftButton);
    if (c.format > 0)
        chooseFilter(dialog.formatCombo, dialog.formatCombo->itemText(c.format));
    if (*c.url) {
        QTest::mouseClick(dialog.urlEdit, Qt::LeftButton);
        typeText(c.url);
    }
    replaceText(dialog.nameEdit, c.name);
    replaceText(dialog.folderEdit, folder.string());
    {
        std::optional<AsUser> user;
        if (std::string(c.folder) == "locked")
            user.emplace();
        QTest::mouseClick(dialog.startButton, Qt::LeftButton);
    }
    const std::string problem = dialog.problemLabel->text().toStdString();
    EXPECT_EQ(problem.rfind(c.problem, 0), 0u) << problem;
    if (*c.problem) {
        EXPECT_FALSE(problem.empty());
        EXPECT_TRUE(dialog.isVisible());
        return;
    }
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(describe(dialog.source()), c.source);
    EXPECT_EQ(dialog.output(), (folder / c.file).string());
    // The next recording proposes the same folder.
    EXPECT_EQ(lastRecordingFolder().toStdString(), folder.string());
}

constexpr const char* kUrlMissing = "ストリームのURLを入力";
constexpr const char* kScheme = "URLは udp://";
constexpr const char* kHost = "URLにホスト名";
constexpr const char* kPort = "URLにポート番号";
constexpr const char* kUnread = "URLを読み取れません";
constexpr const char* kSame = "同じ名前のファイルがすでにあります";

INSTANTIATE_TEST_SUITE_P(
    Dialog, RecordingChoices,
    ::testing::Values(
        Choice{true, "liveDeviceChoice", 2, "", "m", "", "", "",
               "/dev/video7|v4l2|input_format=yuyv422 video_size=1280x720", "m.ts"},
        Choice{true, "liveDeviceChoice", 0, "", "m", "", "", "", "/dev/video7|v4l2|", "m.ts"},
        Choice{true, "liveTestChoice", 0, "", "m.ts", "", "", "",
               "testsrc2=size=1280x720:rate=25|lavfi|", "m.ts"},
        // Without a device its choice cannot be taken: a URL is asked for.
        Choice{false, "liveDeviceChoice", 0, "", "m", "", "", kUrlMissing, "", ""},
        Choice{false, "liveStreamChoice", 0, "udp://0.0.0.0:5000", "m", "", "", "",
               "udp://0.0.0.0:5000||", "m.ts"},
        Choice{false, "liveStreamChoice", 0, "rtp://239.0.0.1:5004", "m", "", "", "",
               "rtp://239.0.0.1:5004||", "m.ts"},
        Choice{false, "liveStreamChoice", 0, "srt://camera.local:9000?mode=caller", "m", "", "", "",
               "srt://camera.local:9000?mode=caller||", "m.ts"},
        Choice{false, "liveStreamChoice", 0, "rtsp://192.168.1.20/stream1", "m", "", "", "",
               "rtsp://192.168.1.20/stream1||", "m.ts"},
        Choice{false, "liveStreamChoice", 0, "http://192.168.1.20:8080/", "m", "", "", kScheme, "",
               ""},
        Choice{false, "liveStreamChoice", 0, "/dev/video0", "m", "", "", kScheme, "", ""},
        Choice{false, "liveStreamChoice", 0, "udp://:5000", "m", "", "", kHost, "", ""},
        Choice{false, "liveStreamChoice", 0, "srt://camera.local", "m", "", "", kPort, "", ""},
        Choice{false, "liveStreamChoice", 0, "udp://0.0.0.0:99999", "m", "", "", kUnread, "", ""},
        Choice{false, "liveStreamChoice", 0, "udp://my camera:5000", "m", "", "", kUnread, "", ""},
        Choice{true, "liveTestChoice", 0, "", "", "", "", "ファイル名を入力", "", ""},
        Choice{true, "liveTestChoice", 0, "", "a/b", "", "", "ファイル名に / は使えません", "", ""},
        Choice{true, "liveTestChoice", 0, "", "m", "m.ts", "", kSame, "", ""},
        // An earlier match's tags would mix into this one.
        Choice{true, "liveTestChoice", 0, "", "m", "m.csv", "", kSame, "", ""},
        Choice{true, "liveTestChoice", 0, "", "m", "", "missing", "フォルダーが見つかりません", "",
               ""},
        Choice{true, "liveTestChoice", 0, "", "m", "", "locked", "このフォルダーには書き込めません",
               "", ""}));

class LiveEnding : public LiveScreens, public ::testing::WithParamInterface<bool> {};

// ffmpeg's test picture recorded from the ライブ収録… button and coded, then
// 収録を終了: made an MP4 (the session then on NAME.mp4, its tags saved to the
// file it reads) or left for later (on NAME.ts, unsaved); every tag as coded.
TEST_P(LiveEnding, KeepsEveryTag) {
    const bool convert = GetParam();
    Deadline deadline(90, "a live recording ended");
    click("mediaLive_edit");
    auto* dialog = window->findChild<NewRecordingDialog*>();
    ASSERT_NE(dialog, nullptr);
    // A window manager activates a new dialog; the offscreen platform does not.
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == dialog; }, 2000));
    QTest::mouseClick(dialog->testChoice, Qt::LeftButton);
    replaceText(dialog->nameEdit, "m");
    replaceText(dialog->folderEdit, dir.string());
    QTest::mouseClick(dialog->startButton, Qt::LeftButton);
    const std::string ts = (dir / "m.ts").string(), mp4 = (dir / "m.mp4").string();
    ASSERT_TRUE(QTest::qWaitFor([&] { return main->session->isOpenVideo(ts); }, 60000));
    press("A0", 1.5);
    press("B3", 2.0);
    press("A5", 2.5);
    const auto tags = coded(main->tagDataModel.data);
    ASSERT_EQ(tags.size(), 3u);

    // はい to the end, then the offer, then the notice that the tags are saved.
    dialogs.answers = {1, convert ? 0 : 1, 0};
    click("mediaLive_edit");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !edit->liveRecording->isRecording(); }, 20000));
    if (convert) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return main->session->isOpenVideo(mp4); }, 60000));
    }
    EXPECT_EQ(std::filesystem::exists(mp4), convert);
    EXPECT_TRUE(main->session->isOpenVideo(convert ? mp4 : ts));
    EXPECT_EQ(coded(main->tagDataModel.data), tags);
    EXPECT_EQ(main->m_fSave, !convert);
    if (convert) {
        EXPECT_EQ(coded(TagFileManager::readCSVFile(main->getCSVFileName()).rows), tags);
    }
}

INSTANTIATE_TEST_SUITE_P(Live, LiveEnding, ::testing::Bool());
