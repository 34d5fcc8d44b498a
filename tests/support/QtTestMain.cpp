// GoogleTest main for suites that need a Qt application and its event loop.
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <clocale>
#include <gtest/gtest.h>

#ifdef RUCKTAG_UI_TESTS
#include "startup/Startup.h"
#endif

namespace {

// Each test starts from empty preferences, in a folder of its own: what one
// test leaves (前/後 at 0, a chosen window) never reaches the next one when the
// whole program runs as one process.
class FreshSettings : public ::testing::EmptyTestEventListener {
public:
    explicit FreshSettings(QString root) : root_(std::move(root)) {}
    void OnTestStart(const ::testing::TestInfo&) override {
        const QString folder = root_ + "/" + QString::number(++started_);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
    }

private:
    QString root_;
    int started_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
#ifdef RUCKTAG_UI_TESTS
    // The screens are tested as the application sets itself up.
    prepareApplication();
#endif
    // Remembered preferences go to a scratch folder, never the user's.
    QTemporaryDir settingsDir;
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshSettings(settingsDir.path()));
    return RUN_ALL_TESTS();
}
