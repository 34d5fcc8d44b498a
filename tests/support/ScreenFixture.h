#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QListView>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "MainViewController.h"
#include "SubViewClass/Buttons.h"
#include "SubViewClass/CustomTableView.h"
#include "SubViewClass/MainWindow.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewClass/MenuButton.h"
#include "SubViewController/EditViewController.h"
#include "SubViewController/PlayViewController.h"
#include "startup/Startup.h"
#include "support/FakePlayer.h"
#include "support/RecordingDialogs.h"
#include "support/Scratch.h"
#include "tags/TableModels.h"

// The main view on a fake player, with recorded dialogs and a scratch folder.
// A window file of two codes: スクラム records with Q / W, ポゼッション lasts
// with E / R.
inline constexpr const char* kSevens =
    R"({"format": "rucktag-codewindow", "version": 1, "name": "7人制",
 "codes": [{"name": "スクラム", "color": "#f08000", "keyA": "Q", "keyB": "W"},
           {"name": "ポゼッション", "color": "#2060c0", "mode": "duration",
            "keyA": "E", "keyB": "R"}]}
)";

class Screens : public ::testing::Test {
protected:
    Screens() {
        dir = freshScratchDir("rucktag-ui-");
        // Code windows of the test's own, read when the window is made.
        config = dir.string() + "-config";
        std::filesystem::remove_all(config);
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        makeWindow();
        // Journals of the test's videos go beside its scratch folder.
        state = dir.string() + "-state";
        std::filesystem::remove_all(state);
        ::setenv("XDG_STATE_HOME", state.c_str(), 1);
    }
    ~Screens() override {
        if (main) // journal writes still on their way would make the folder again
            main->tagJournal.flush();
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add);
        std::filesystem::remove_all(dir);
        std::filesystem::remove_all(state);
        std::filesystem::remove_all(config);
    }

    // A new main window on a new fake player (a restart, for instance); on
    // `screen`, placed there as the application starts.
    void makeWindow(QScreen* screen = nullptr) {
        auto owned = std::make_unique<FakePlayer>();
        fake = owned.get();
        window = std::make_unique<MainWindow>(std::move(owned));
        main = window->mainViewController();
        if (screen)
            placeMainWindow(*window, screen);
        else
            window->resize(1600, 964);
        window->show();
        (void)QTest::qWaitForWindowExposed(window.get());
        edit = main->editViewController;
        play = main->playViewController;
    }
    // The window again on the real player, the two-code window chosen.
    void makeRealWindow() {
        std::filesystem::create_directories(windowFolder());
        std::ofstream(windowFolder() / "sevens.json") << kSevens;
        window.reset();
        window = std::make_unique<MainWindow>();
        fake = nullptr;
        main = window->mainViewController();
        window->resize(1366, 740);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        edit = main->editViewController;
        play = main->playViewController;
        chooseWindow("7人制");
    }
    // The application dies without a word and starts again on a new window:
    // nothing is saved or asked on the way out.
    void crashAndRestart() {
        ASSERT_TRUE(main->tagJournal.flush());
        window.reset();
        makeWindow();
    }
    // The folder of the test's own code window files.
    std::filesystem::path windowFolder() const { return config / "rucktag" / "codewindows"; }
    // Writes code window files (file name, text) and starts afresh on them.
    void restartWithWindows(std::initializer_list<std::pair<const char*, std::string>> files) {
        std::filesystem::create_directories(windowFolder());
        for (const auto& [name, text] : files)
            std::ofstream(windowFolder() / name) << text;
        window.reset();
        makeWindow();
    }
    // Chooses code window `name` in the edit screen's pop-up.
    void chooseWindow(const char* name) {
        chooseFilter(edit->codePanel->codeWindowPopUp, name);
        ASSERT_EQ(edit->codeWindow().name, name);
    }
    // Opens `name` in the scratch folder (the file need not exist: the fake
    // player opens anything).
    void openVideo(const std::string& name, double length = 600.0) {
        fake->length = length;
        main->MediaPlayer->callBack = [this](const std::string& url) { main->afterOpenMedia(url); };
        main->MediaPlayer->openPath((dir / name).string());
    }
    TagButton* button(const std::string& id) {
        for (TagButton* b : edit->codePanel->tagButtons)
            if (b->objectName().toStdString() == id)
                return b;
        return nullptr;
    }
    // Presses a tag button with the mouse at video time `at`.
    void press(const std::string& id, double at) {
        fake->clock = at;
        QTest::mouseClick(button(id), Qt::LeftButton);
    }
    // Marks a clip from `from` to `to` with the clip buttons.
    void markClip(double from, double to) {
        fake->clock = from;
        click("mediaClipStart");
        fake->clock = to;
        click("mediaClipEnd");
    }
    // Clicks the button with identifier `id` as a user would; an item of a
    // button's menu by clicking the button, then the item in the menu.
    void click(const char* id) {
        if (QAbstractButton* b = window->findChild<QAbstractButton*>(id)) {
            ASSERT_TRUE(b->isVisible()) << id;
            QTest::mouseClick(b, Qt::LeftButton);
            return;
        }
        QAction* action = window->findChild<QAction*>(id);
        ASSERT_NE(action, nullptr) << id;
        auto* menu = qobject_cast<QMenu*>(action->parent());
        ASSERT_NE(menu, nullptr) << id;
        auto* owner = qobject_cast<QAbstractButton*>(menu->parent());
        ASSERT_NE(owner, nullptr) << id;
        ASSERT_TRUE(owner->isVisible()) << id;
        // The menu runs its own loop while it is open.
        bool chosen = false;
        QTimer timer;
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (chosen || !menu->isVisible())
                return;
            chosen = true;
            timer.stop();
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
        });
        timer.start();
        QTest::mouseClick(owner, Qt::LeftButton);
        timer.stop();
        ASSERT_TRUE(chosen) << id;
        ASSERT_FALSE(menu->isVisible()) << id;
        // The offscreen platform leaves a closed menu the active window, where
        // a window manager gives the window under it back its activation.
        if (QApplication::activeWindow() == menu) {
            owner->window()->activateWindow();
            ASSERT_TRUE(QTest::qWaitFor(
                [&] { return QApplication::activeWindow() == owner->window(); }, 2000));
        }
    }
    // Chooses `text` in a filter pop-up: opens it, clicks the item.
    static void chooseFilter(QComboBox* combo, const QString& text) {
        QTest::mouseClick(combo, Qt::LeftButton);
        QAbstractItemView* list = combo->view();
        ASSERT_TRUE(QTest::qWaitFor([&] { return list->isVisible(); }, 2000));
        const QModelIndex item = list->model()->index(combo->findText(text), 0);
        ASSERT_TRUE(item.isValid()) << text.toStdString();
        // The pop-up ignores a release that follows its opening too closely,
        // and on a loaded machine it may still be settling: a person would
        // click again.
        for (int attempt = 0; attempt < 3 && list->isVisible(); ++attempt) {
            QTest::qWait(QApplication::doubleClickInterval() + 50);
            list->scrollTo(item);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualRect(item).center());
            (void)QTest::qWaitFor([&] { return !list->isVisible(); }, 1000);
        }
        ASSERT_FALSE(list->isVisible());
        ASSERT_EQ(combo->currentText(), text);
    }
    // Types a key into whatever widget has the focus.
    static void type(Qt::Key key, Qt::KeyboardModifiers mods = {}) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        QTest::keyClick(focus, key, mods);
    }
    // Japanese comes through the input method: its committed text goes to
    // the widget with the focus.
    static void typeJapanese(const char* text) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        QInputMethodEvent commit;
        commit.setCommitString(QString::fromUtf8(text));
        QApplication::sendEvent(focus, &commit);
    }
    // Types `text` into whatever widget has the focus.
    static void typeText(const char* text) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        QTest::keyClicks(focus, text);
    }
    // Clicks cell (row, column) of a table as a user would.
    static void clickCell(QTableView* table, int row, int column) {
        const QRect r = table->visualRect(table->model()->index(row, column));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, r.center());
    }
    static void clickHeader(CustomTableView* table, int column) {
        QHeaderView* h = table->horizontalHeader();
        const QPoint p(h->sectionViewportPosition(column) + h->sectionSize(column) / 2,
                       h->height() / 2);
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, p);
    }
    static std::vector<std::string> names(const std::vector<std::shared_ptr<TagRowData>>& rows) {
        std::vector<std::string> out;
        for (const auto& r : rows)
            out.push_back(r->name);
        return out;
    }

    RecordingDialogs dialogs;
    FakePlayer* fake = nullptr;
    std::unique_ptr<MainWindow> window;
    MainViewController* main = nullptr;
    EditViewController* edit = nullptr;
    PlayViewController* play = nullptr;
    std::filesystem::path dir;
    std::filesystem::path state;  // XDG_STATE_HOME
    std::filesystem::path config; // XDG_CONFIG_HOME
};
