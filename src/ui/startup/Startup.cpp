#include "startup/Startup.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QTranslator>
#include <clocale>

#include "MainViewController.h"
#include "SubViewClass/MainWindow.h"

namespace {

// Words of Qt's file panel that its Japanese catalogue lacks: the kinds of
// a folder and a drive in the detail list.
class PanelWords : public QTranslator {
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* source, const char* = nullptr,
                      int = -1) const override {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0 &&
            qstrcmp(context, "QFileIconProvider") != 0)
            return {};
        static const char* const kWords[][2] = {
            {"Folder", "フォルダー"},      {"File Folder", "フォルダー"},
            {"Directory", "フォルダー"},   {"Drive", "ドライブ"},
            {"File", "ファイル"},          {"Alias", "エイリアス"},
            {"Shortcut", "ショートカット"}};
        for (const auto& w : kWords)
            if (qstrcmp(source, w[0]) == 0)
                return QString::fromUtf8(w[1]);
        return {};
    }
};

} // namespace

void prepareApplication() {
    // mpv needs C number formatting; Qt has just set the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    // The screens ask for the fonts they were designed with; these stand in.
    QFont::insertSubstitutions("Hiragino Sans GB", {"Noto Sans CJK JP", "Noto Sans CJK SC"});
    QFont::insertSubstitutions("Arial", {"Liberation Sans", "DejaVu Sans", "Noto Sans CJK JP"});
    QApplication::setFont(QFont("Hiragino Sans GB"));

    // Qt's own panels and menus (file panels, a text field's menu) in
    // Japanese as every other word of the window, whatever the system's
    // language.
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    QLocale::setDefault(japanese);
    auto* qtTexts = new QTranslator(qApp);
    if (qtTexts->load(japanese, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qtTexts);
    else
        qWarning("Qt's Japanese texts (qtbase_ja.qm, qt6-translations-l10n) are missing");
    QCoreApplication::installTranslator(new PanelWords(qApp));
}

void placeMainWindow(MainWindow& window, QScreen* screen) {
    if (!screen)
        return;
    // The free area, without the desktop's panels: the window header and all
    // stay in sight.
    const QRect free = screen->availableGeometry();
    window.setScreen(screen);
    window.fitMainView(MainViewController::mainViewSizeFor(
        free.size() - QSize(0, window.header()->minimumHeight())));
    window.move(free.center() - window.rect().center());
}
