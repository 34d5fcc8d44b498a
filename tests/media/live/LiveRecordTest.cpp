// Live recording from real sources: an ffmpeg process streaming H.264 in
// MPEG-TS over UDP (1080p25, the frame number burnt in as a bar code), and
// ffmpeg's test device as a raw source. What reaches the file is read back by
// the ffmpeg command, frame by frame.
#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>

#include "export/ClipExportSession.h"
#include "live/LiveRecorder.h"
#include "support/Deadline.h"
#include "support/MediaProbe.h"
#include "support/Scratch.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBits = 20; // frame numbers up to a million: an hour and more at 25 fps

// The fixtures' picture (scripts/make-fixtures), 16:9 `width` wide, 25 fps;
// `out` labels the video ("v" for the command, "out0" for the device).
std::string sourceGraph(double seconds, int width, const std::string& tail,
                        const std::string& out) {
    const std::string d = std::to_string(seconds), w = std::to_string(width);
    return "testsrc2=size=" + w + "x" + std::to_string(width * 9 / 16) + ":rate=25:duration=" + d +
           "[bg];color=black:size=" + std::to_string(kBits) + "x1:rate=25:duration=" + d +
           ",format=yuv444p,geq=lum='if(mod(floor(N/pow(2\\,X))\\,2)\\,235\\,16)':cb=128:cr=128,"
           "scale=" +
           w + ":" + std::to_string(width * 9 / 16 / 6) +
           ":flags=neighbor[bar];[bg][bar]overlay=0:0:shortest=1," + tail + "[" + out + "]";
}

pid_t spawn(const std::vector<std::string>& args, const std::string& errFile = "/dev/null") {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int waitFor(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

// Streams the picture (and a tone) for `seconds` to the UDP port, as ffmpeg
// on a camera or a truck would; `progress` gets the pictures sent so far.
// `jump`: half-way the sender's clock leaps that far on (a splice upstream,
// the sound's cut half a second before the picture's).
pid_t streamTo(int port, double seconds, const std::string& progress = "/dev/null", int jump = 0) {
    const auto leap = [&](double at) {
        return "setpts=PTS+gte(T\\," + std::to_string(at) + ")*" + std::to_string(jump) + "/TB,";
    };
    const std::string graph =
        sourceGraph(seconds, 1920, "format=yuv420p," + leap(seconds / 2) + "realtime", "v") +
        ";sine=frequency=440:sample_rate=48000:duration=" + std::to_string(seconds) + ",a" +
        leap(seconds / 2 - 0.5) + "arealtime[a]";
    const std::string to = "udp://127.0.0.1:" + std::to_string(port) + "?pkt_size=1316";
    return spawn({"ffmpeg",    "-v",
                  "error",     "-progress",
                  progress,    "-stats_period",
                  "0.1",       "-filter_complex",
                  graph,       "-map",
                  "[v]",       "-map",
                  "[a]",       "-c:v",
                  "libx264",   "-preset",
                  "ultrafast", "-g",
                  "25",        "-c:a",
                  "aac",       "-f",
                  "mpegts",    to});
}

// Whether something listens on the UDP port (read from the kernel's table, so
// the look never takes the port from the recorder).
bool udpBound(int port) {
    std::ifstream table("/proc/net/udp");
    char hex[8];
    std::snprintf(hex, sizeof hex, ":%04X", port);
    std::string line, slot, local;
    while (std::getline(table, line))
        if (std::istringstream(line) >> slot >> local && local.ends_with(hex))
            return true;
    return false;
}

// A port of this process's own, so two test programs at once never meet.
int freePort(int which) {
    return 20000 + (::getpid() % 4000) * 8 + which;
}

// Polls until `done` holds (the Deadline around the test ends a hang).
template <typename F> void until(F done) {
    while (!done())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void finish(LiveRecorder& recorder) {
    recorder.stop();
    until([&] { return recorder.status().state >= LiveState::Stopped; });
}

// What ffprobe says of the first video ("v") or sound ("a") stream (it names
// each stream once for the program and once alone).
std::string streamEntry(const std::string& file, const char* type, const std::string& entry) {
    const std::string both = probe(file, "stream=" + entry,
                                   type[0] == 'v' ? "-select_streams v:0" : "-select_streams a:0");
    return both.substr(0, both.find('\n'));
}

std::vector<int> upTo(int count) {
    return frameSpans({{0, count - 1}});
}

} // namespace

// Every frame the source sends is in the file once, in order, and each stream
// on the recording's clock: a compressed network stream copied (also one whose
// clock leaps on mid-stream), a raw device encoded. RUCKTAG_LIVE_SECONDS makes
// the network stream as long as a match (ctest's live_recording_long).
// Seconds 2 to 4 of the growing file cut while the recording goes on: two
// seconds of the source's pictures, in order.
void exportWhileRecording(LiveRecorder& recorder, const std::string& ts, const fs::path& out) {
    until([&] { return recorder.status().edge > 6.0; });
    ClipExportSession session(ts);
    session.outputURL = out.string();
    session.setTimeRange(2000, 4000);
    std::atomic<bool> done{false};
    session.exportAsynchronously([&] { done = true; });
    until([&] { return done.load(); });
    ASSERT_EQ(session.status(), ClipExportSession::Completed) << session.errorText();
    EXPECT_LT(recorder.status().state, LiveState::Stopped);
    const std::vector<int> numbers = frameNumbers(out.string(), kBits);
    ASSERT_NEAR(numbers.size(), 50u, 1u);
    EXPECT_NEAR(numbers.front(), 50, 2);
    for (size_t i = 1; i < numbers.size(); ++i)
        EXPECT_EQ(numbers[i], numbers[i - 1] + 1);
}

TEST(LiveRecording, EveryFrameOfTheSourceOnceInOrder) {
    const char* env = std::getenv("RUCKTAG_LIVE_SECONDS");
    const double longRun = env ? std::atof(env) : 12;
    static const std::string deadline = "live recording of " + std::to_string(longRun) + " s";
    Deadline guard(static_cast<unsigned>(longRun) * 2 + 120, deadline.c_str());
    const fs::path dir = freshScratchDir("rucktag-live-");
    const int port = freePort(0);
    const struct {
        const char* name;
        LiveSource source;
        double seconds;
        bool encoding;
        int jump = 0;
    } cases[] = {
        {"udp", {"udp://127.0.0.1:" + std::to_string(port), "", {}}, longRun, false},
        {"leap", {"udp://127.0.0.1:" + std::to_string(port), "", {}}, 6, false, 1000},
        // A grabber's usual 4:2:2 pictures and PCM sound, small enough to be
        // made faster than real time (held to the clock by the recorder); the
        // graph ends by itself.
        {"lavfi",
         {sourceGraph(4, 640, "format=yuyv422", "out0") +
              ";sine=sample_rate=44100:duration=4[out1]",
          "lavfi",
          {}},
         4,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string ts = (dir / (std::string(c.name) + ".ts")).string();
        LiveRecorder recorder(c.source, ts);
        const auto began = Clock::now();
        recorder.start();
        if (c.source.format.empty()) {
            until([&] { return udpBound(port); });
            const pid_t source = streamTo(port, c.seconds, "/dev/null", c.jump);
            ASSERT_GT(source, 0);
            if (std::string(c.name) == "udp") // half time: a clip while it records
                exportWhileRecording(recorder, ts, dir / "half-time.mp4");
            EXPECT_EQ(waitFor(source), 0);
            until([&] { return recorder.status().state == LiveState::NoSignal; });
            recorder.stop();
        } // the device's graph ends by itself
        until([&] { return recorder.status().state >= LiveState::Stopped; });
        const double took = std::chrono::duration<double>(Clock::now() - began).count();
        const LiveStatus s = recorder.status();
        EXPECT_EQ(s.state, LiveState::Stopped) << s.message;
        EXPECT_EQ(s.encoding, c.encoding);
        // Held to the clock, even a source made in-process (to its last picture).
        EXPECT_GE(took, c.seconds - 0.04);
        EXPECT_EQ(s.bytes, static_cast<int64_t>(fs::file_size(ts)));
        EXPECT_GT(s.freeBytes, 0);
        // The rate the minutes left come from: bytes a second of the clock (a
        // loaded machine encodes slower than the picture's own time).
        EXPECT_NEAR(s.bytesPerSecond * took / static_cast<double>(s.bytes), 1.0, 0.5);
        EXPECT_GT(s.minutesLeft, 0);
        EXPECT_EQ(streamEntry(ts, "v", "codec_name"), "h264");
        // The sound, copied or made AAC, on the pictures' clock.
        EXPECT_EQ(streamEntry(ts, "a", "codec_name"), "aac");
        EXPECT_NEAR(std::stod(streamEntry(ts, "a", "duration")),
                    std::stod(streamEntry(ts, "v", "duration")), 0.1);
        for (const char* type : {"v", "a"}) { // the wall time the source sent
            EXPECT_NEAR(std::stod(streamEntry(ts, type, "start_time")), 0, 0.1) << type;
            EXPECT_NEAR(std::stod(streamEntry(ts, type, "duration")), c.seconds, 1.0) << type;
        }
        const std::vector<int> numbers = frameNumbers(ts, kBits);
        const int count = static_cast<int>(c.seconds * 25);
        EXPECT_EQ(numbers, upTo(count)) << numbers.size() << " frames";
        std::vector<LiveGap> gaps{{1, 2}};
        std::string error;
        EXPECT_TRUE(readLiveGaps(ts, gaps, error)) << error;
        EXPECT_TRUE(gaps.empty());
    }
    fs::remove_all(dir); // a match-long recording is a gigabyte
}

// The source stops for 20 s and comes back: the recorder says so, goes on in
// the same file, and the hole in the file's time is the gap the sidecar keeps;
// the MP4 made after the match keeps both.
TEST(LiveRecording, ADropOutLeavesAGapAndRecordingGoesOn) {
    Deadline guard(150, "live recording across a drop-out");
    const fs::path dir = freshScratchDir("rucktag-live-");
    const std::string ts = (dir / "match.ts").string();
    const int port = freePort(1);
    LiveRecorder recorder({"udp://127.0.0.1:" + std::to_string(port), "", {}}, ts);
    std::atomic<int> gapSignals{0};
    QObject::connect(
        &recorder, &LiveRecorder::gapsChanged, &recorder, [&] { ++gapSignals; },
        Qt::DirectConnection);
    recorder.start();
    until([&] { return udpBound(port); });
    EXPECT_EQ(waitFor(streamTo(port, 5)), 0);
    const auto off = Clock::now();
    std::set<LiveState> seen;
    while (Clock::now() - off < std::chrono::seconds(20)) {
        seen.insert(recorder.status().state);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const double offFor = std::chrono::duration<double>(Clock::now() - off).count();
    const pid_t again = streamTo(port, 4);
    EXPECT_EQ(seen, (std::set<LiveState>{LiveState::Recording, LiveState::NoSignal,
                                         LiveState::Reconnecting}));
    EXPECT_EQ(waitFor(again), 0);
    until([&] { return recorder.status().state == LiveState::NoSignal; });
    finish(recorder);

    const std::vector<LiveGap> gaps = recorder.gaps();
    ASSERT_EQ(gaps.size(), 1u);
    EXPECT_EQ(gapSignals.load(), 1);
    EXPECT_NEAR(gaps[0].from, 5.0, 1.0);
    EXPECT_NEAR(gaps[0].to - gaps[0].from, offFor, 1.0);
    std::vector<LiveGap> kept;
    std::string error;
    ASSERT_TRUE(readLiveGaps(ts, kept, error)) << error;
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_NEAR(kept[0].from, gaps[0].from, 0.001);
    EXPECT_NEAR(kept[0].to, gaps[0].to, 0.001);
    const std::vector<int> expected = frameSpans({{0, 124}, {0, 99}});
    const std::vector<double> times = probeNumbers(ts, "frame=pts_time", "-select_streams v");
    ASSERT_EQ(times.size(), expected.size());
    EXPECT_NEAR(times[125], gaps[0].to, 0.05);         // the file's hole is the gap
    EXPECT_NEAR(times[124] + 0.04, gaps[0].from, 0.1); // the last picture's end

    for (const bool cancel : {true, false}) {
        const std::string mp4 = (dir / "match.mp4").string();
        const std::atomic<bool> stop{cancel};
        EXPECT_EQ(remuxLiveToMp4(ts, mp4, stop, error), !cancel) << error;
        EXPECT_EQ(fs::exists(mp4), !cancel);
        EXPECT_EQ(namesIn(dir).count("match.mp4.part"), 0u);
        if (!cancel) {
            EXPECT_EQ(frameNumbers(mp4, kBits), expected);
            EXPECT_EQ(streamEntry(mp4, "v", "codec_name"), "h264");
            const std::vector<double> t = probeNumbers(mp4, "frame=pts_time", "-select_streams v");
            ASSERT_EQ(t.size(), expected.size());
            EXPECT_NEAR(t[125] - t[124], times[125] - times[124], 0.05);
        }
    }
}

// `rucktag record` killed outright mid-match: the file plays on to within two
// seconds of the kill, and the sidecar is whole.
TEST(LiveRecording, AKilledRecordingPlaysToWithinTwoSecondsOfTheKill) {
    Deadline guard(120, "kill -9 of rucktag record");
    const fs::path dir = freshScratchDir("rucktag-live-");
    const std::string ts = (dir / "match.ts").string(), said = (dir / "said.txt").string();
    const int port = freePort(2);
    const pid_t recorder = spawn(
        {RUCKTAG_APP, "record", "udp://127.0.0.1:" + std::to_string(port), "--out", ts}, said);
    ASSERT_GT(recorder, 0);
    until([&] { return udpBound(port); });
    const std::string progress = (dir / "progress.txt").string();
    const pid_t source = streamTo(port, 60, progress);
    until([&] { return slurp(said).find("収録中 / recording") != std::string::npos; });
    std::this_thread::sleep_for(std::chrono::seconds(6));
    // The source's own count of pictures sent (a tenth of a second old at most).
    const std::string sent = slurp(progress);
    const size_t at = sent.rfind("frame=");
    ::kill(recorder, SIGKILL);
    waitFor(recorder);
    ::kill(source, SIGKILL);
    waitFor(source);
    ASSERT_NE(at, std::string::npos);
    const int arrived = std::atoi(sent.c_str() + at + 6);

    const std::vector<int> numbers = frameNumbers(ts, kBits);
    ASSERT_FALSE(numbers.empty());
    EXPECT_GE(numbers.back(), arrived - 50);
    EXPECT_EQ(numbers, upTo(numbers.back() + 1));
    std::vector<LiveGap> gaps;
    std::string error;
    EXPECT_TRUE(readLiveGaps(ts, gaps, error)) << error;
}
