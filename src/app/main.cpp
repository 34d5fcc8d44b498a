#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QTimer>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "AppDelegate.h"
#include "MainViewController.h"
#include "SubViewClass/MainWindow.h"
#include "commands/LibraryCommand.h"
#include "commands/PlaylistCommand.h"
#include "commands/PublishCommand.h"
#include "commands/RecordCommand.h"
#include "commands/ReportCommand.h"
#include "commands/ServeCommand.h"
#include "commands/XmlCommand.h"
#include "platform/SystemLog.h"
#include "startup/Startup.h"

namespace {
Q_LOGGING_CATEGORY(lcRucktag, "rucktag")

constexpr const char* kUsage =
    "使い方 / Usage:\n"
    "  rucktag [動画ファイル / VIDEO]   ウィンドウを開く / open the window\n"
    "  rucktag xml export|import ...    XML のタグ交換 / XML edit lists (rucktag xml --help)\n"
    "  rucktag library ...              シーズンライブラリ / season library (rucktag library "
    "--help)\n"
    "  rucktag playlist ...             プレイリスト / playlists (rucktag playlist --help)\n"
    "  rucktag report ...               試合レポート / match report (rucktag report --help)\n"
    "  rucktag publish ...              プレイリストの公開 / publish a playlist (rucktag publish "
    "--help)\n"
    "  rucktag serve ...                グループのページを配信 / serve the group pages (rucktag "
    "serve --help)\n"
    "  rucktag record ...               ライブ収録 / record a live source (rucktag record --help)\n"
    "  rucktag --help, -h               この説明 / this text\n"
    "  rucktag --version                版 / version\n";

// The options of the window's own command line, answered before any window
// (or display) is needed; -1 when the window is to open.
int answerOptions(int argc, char** argv) {
    if (argc < 2)
        return -1;
    const std::string_view first = argv[1];
    if (first == "--help" || first == "-h") {
        std::cout << kUsage;
        return 0;
    }
    if (first == "--version") {
        std::cout << "rucktag " << RUCKTAG_VERSION << "\n";
        return 0;
    }
    // A video whose name begins with "-" is given as ./-name.mp4.
    if (first.size() > 1 && first[0] == '-') {
        std::cerr << "知らないオプションです / unknown option: " << first << "\n" << kUsage;
        return 2;
    }
    if (argc > 2) {
        std::cerr << "動画ファイルは一つだけです / one video only\n" << kUsage;
        return 2;
    }
    return -1;
}
} // namespace

int main(int argc, char** argv) {
    // The edit list exchange runs without a window (scripts, other tools).
    if (argc > 1 && std::string_view(argv[1]) == "xml")
        return runXmlCommand(std::vector<std::string>(argv + 2, argv + argc), std::cout, std::cerr);
    // The season library, playlists, publishing and the web server: Qt SQL needs an
    // application object, not a window.
    using Command = int (*)(const std::vector<std::string>&, std::ostream&, std::ostream&);
    static const std::pair<std::string_view, Command> kCoreCommands[] = {
        {"library", runLibraryCommand}, {"playlist", runPlaylistCommand},
        {"publish", runPublishCommand}, {"record", runRecordCommand},
        {"serve", runServeCommand},
    };
    for (const auto& [name, run] : kCoreCommands)
        if (argc > 1 && std::string_view(argv[1]) == name) {
            const std::vector<std::string> args(argv + 2, argv + argc);
            QCoreApplication app(argc, argv);
            return run(args, std::cout, std::cerr);
        }
    // The report paints with fonts, which need a GUI application; without a
    // display it paints offscreen.
    if (argc > 1 && std::string_view(argv[1]) == "report") {
        const std::vector<std::string> args(argv + 2, argv + argc);
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
            qEnvironmentVariableIsEmpty("DISPLAY") &&
            qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        return runReportCommand(args, std::cout, std::cerr);
    }
    if (const int answered = answerOptions(argc, argv); answered >= 0)
        return answered;
    QApplication app(argc, argv);
    QApplication::setApplicationName("Rucktag");
    QApplication::setDesktopFileName("rucktag");
    prepareApplication();
    // The system log goes through Qt's message handler, so QT_LOGGING_RULES
    // ("rucktag.warning=false") and QT_MESSAGE_PATTERN apply to it.
    setSystemLogSink([](std::string_view line) {
        qCWarning(lcRucktag).noquote()
            << QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    });

    AppDelegate delegate;
    delegate.applicationWillFinishLaunching();
    MainWindow window;
    MainViewController* main = window.mainViewController();
    placeMainWindow(window, QGuiApplication::primaryScreen());
    window.show();
    delegate.applicationDidFinishLaunching();

    // A video named on the command line (how a desktop's "Open with" hands a
    // file over) opens as if chosen in the open panel.
    const QStringList args = QApplication::arguments();
    if (args.size() > 1) {
        const std::string path = args.at(1).toStdString();
        QTimer::singleShot(0, main, [main, path] { main->openVideo(path); });
    }
    const int code = QApplication::exec();
    delegate.applicationWillTerminate();
    return code;
}
