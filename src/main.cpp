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
#include "LibraryCommand.h"
#include "MainViewController.h"
#include "Startup.h"
#include "SubModuleClass/SystemLog.h"
#include "SubViewClass/MainWindow.h"
#include "XmlCommand.h"

namespace {
Q_LOGGING_CATEGORY(lcRucktag, "rucktag")
}

int main(int argc, char** argv) {
    // The edit list exchange runs without a window (scripts, other tools).
    if (argc > 1 && std::string_view(argv[1]) == "xml")
        return runXmlCommand(std::vector<std::string>(argv + 2, argv + argc), std::cout, std::cerr);
    // The season library too; Qt SQL needs an application object, not a window.
    if (argc > 1 && std::string_view(argv[1]) == "library") {
        const std::vector<std::string> args(argv + 2, argv + argc);
        QCoreApplication app(argc, argv);
        return runLibraryCommand(args, std::cout, std::cerr);
    }
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
