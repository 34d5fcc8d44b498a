#include "commands/RecordCommand.h"

#include <QCommandLineParser>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include "live/LiveRecorder.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

constexpr const char* kUsage =
    "使い方 / Usage:\n"
    "  rucktag record SOURCE --out FILE.ts [--format lavfi|v4l2] [--for SECONDS]\n"
    "    ライブの映像を MPEG-TS に収録します (Ctrl+C で終了)。\n"
    "    Records a live source to MPEG-TS until Ctrl+C (or for SECONDS).\n"
    "  SOURCE    udp://, rtp://, srt://, rtsp:// の URL、/dev/video0 など\n"
    "            a network URL, a video device, or an ffmpeg test graph (--format lavfi)\n"
    "  --format  入力の形式 / the input format (v4l2, lavfi; default: probed)\n"
    "  --for     収録する秒数 / seconds to record (default: until Ctrl+C)\n";

std::atomic<bool> interrupted{false};

int usage(std::ostream& err, const std::string& why) {
    err << why << "\n" << kUsage;
    return 2;
}

const char* englishState(LiveState state) {
    static const char* const names[] = {"connecting",   "recording", "no signal",
                                        "reconnecting", "stopped",   "failed"};
    return names[static_cast<int>(state)];
}

// Runs the recorder, telling each change of state, until it finishes.
int record(LiveSource source, const std::string& file, double seconds, std::ostream& err) {
    LiveRecorder recorder(std::move(source), file);
    std::atomic<bool> done{false}, ok{false};
    std::string message;
    QObject::connect(
        &recorder, &LiveRecorder::finished, &recorder,
        [&](bool good, const QString& why) {
            message = why.toStdString();
            ok = good;
            done = true;
        },
        Qt::DirectConnection);
    interrupted = false;
    auto* previousInt = std::signal(SIGINT, [](int) { interrupted = true; });
    auto* previousTerm = std::signal(SIGTERM, [](int) { interrupted = true; });
    const auto begin = std::chrono::steady_clock::now();
    recorder.start();
    int shown = -1;
    size_t gapsShown = 0;
    while (!done) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const LiveStatus s = recorder.status();
        if (static_cast<int>(s.state) != shown) {
            shown = static_cast<int>(s.state);
            err << liveStateText(s.state).toStdString() << " / " << englishState(s.state)
                << std::endl;
        }
        const std::vector<LiveGap> gaps = recorder.gaps();
        for (; gapsShown < gaps.size(); ++gapsShown)
            err << "途切れ / gap " << gaps[gapsShown].from << " - " << gaps[gapsShown].to
                << std::endl;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        if (interrupted || (seconds > 0 && elapsed >= seconds))
            recorder.stop();
    }
    std::signal(SIGINT, previousInt);
    std::signal(SIGTERM, previousTerm);
    const LiveStatus s = recorder.status();
    if (!ok) {
        err << message << "\n";
        return 1;
    }
    err << liveStateText(s.state).toStdString() << " / " << englishState(s.state) << " " << s.bytes
        << " bytes, " << s.edge << " s" << std::endl;
    return 0;
}

} // namespace

int runRecordCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    QCommandLineParser parser;
    const QCommandLineOption output(QStringLiteral("out"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption format(QStringLiteral("format"), QString(), QStringLiteral("F"));
    const QCommandLineOption duration(QStringLiteral("for"), QString(), QStringLiteral("S"));
    const QCommandLineOption help(QStringList{QStringLiteral("help"), QStringLiteral("h")});
    parser.addOptions({output, format, duration, help});
    QStringList words = {QStringLiteral("rucktag")};
    for (const std::string& arg : args)
        words << QString::fromStdString(arg);
    if (!parser.parse(words))
        return usage(err, "オプションを読めません / " + parser.errorText().toStdString());
    if (parser.isSet(help)) {
        out << kUsage;
        return 0;
    }
    const QStringList sources = parser.positionalArguments();
    if (sources.size() != 1 || parser.value(output).isEmpty())
        return usage(err, "入力を 1 つと --out を指定してください / name one source and --out");
    const QString kind = parser.value(format);
    if (!kind.isEmpty() && kind != QLatin1String("lavfi") && kind != QLatin1String("v4l2"))
        return usage(err, "--format は lavfi か v4l2 です / --format takes lavfi or v4l2: " +
                              kind.toStdString());
    double seconds = 0;
    if (parser.isSet(duration)) {
        bool ok = false;
        seconds = parser.value(duration).toDouble(&ok);
        if (!ok || !(seconds > 0))
            return usage(err, "--for は正の秒数です / --for takes seconds above 0: " +
                                  parser.value(duration).toStdString());
    }
    // The states, not FFmpeg's: joining a stream between two key frames makes
    // the probe complain of missing headers every time, and failures are ours
    // to tell.
    av_log_set_level(AV_LOG_FATAL);
    LiveSource source{sources.front().toStdString(), kind.toStdString(), {}};
    return record(std::move(source), parser.value(output).toStdString(), seconds, err);
}
