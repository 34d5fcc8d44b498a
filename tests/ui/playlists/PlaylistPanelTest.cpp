// Playlists in the application, driven through their widgets: made from
// chosen results of the library window, reordered, a note typed, a change of
// another analyst's met, published with the real renderer; the library a
// SQLite file of the test's own.
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "SubModuleClass/TagFileManager.h"
#include "client/LibraryClient.h"
#include "playlist/Playlists.h"
#include "playlists/AddToPlaylist.h"
#include "playlists/PlaylistPanel.h"
#include "playlists/PublishDialog.h"
#include "playlists/PublishedBox.h"
#include "playlists/QrCode.h"
#include "season/LibraryWindow.h"
#include "support/Deadline.h"
#include "support/MediaFixtures.h"
#include "support/MediaProbe.h"
#include "support/ScreenFixture.h"
#include "support/Tags.h"

namespace fs = std::filesystem;
using namespace library;

namespace {

class PlaylistScreens : public Screens {
protected:
    PlaylistScreens() {
        season = dir / "season";
        fs::create_directories(season);
        // Two matches of the fixture video, two tags each.
        for (const char* name : {"2026-09-06 東京", "2026-09-20 大阪"}) {
            const fs::path video = season / (std::string(name) + ".mp4");
            fs::copy_file(fixturePath("clip.mp4"), video);
            std::vector<std::shared_ptr<TagRowData>> tags = {tag(true, 2, "スクラム"),
                                                             tag(false, 6, "ラインアウト")};
            tags[1]->index = 1;
            EXPECT_EQ(TagFileManager::saveCSVFile(TagFileManager::sessionFilePath(video.string()),
                                                  tags, true),
                      "");
        }
        database = QString::fromStdString((dir / "library.sqlite").string());
        ::setenv("RUCKTAG_LIBRARY", database.toUtf8().constData(), 1);
    }
    ~PlaylistScreens() override {
        if (main)
            main->library()->waitIdle();
        ::unsetenv("RUCKTAG_LIBRARY");
    }
    // The library window with the season scanned by its button.
    LibraryWindow* openLibrary() {
        click("window_library");
        auto* w = window->findChild<LibraryWindow*>("libraryWindow");
        EXPECT_TRUE(w && QTest::qWaitForWindowExposed(w));
        dialogs.paths = {season.string()};
        QTest::mouseClick(w->addFolderButton, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return w->countLabel->text() == "4件"; }, 10000));
        return w;
    }
    // The row of the results for `code` of the match `title`.
    static int resultRow(LibraryWindow* w, const QString& title, const std::string& code) {
        const auto& hits = w->hitModel()->hits();
        for (size_t i = 0; i < hits.size(); ++i)
            if (hits[i].title.contains(title) && hits[i].code == code)
                return static_cast<int>(i);
        return -1;
    }
    // Waits for the panel to show a playlist of items passing `wanted`.
    static bool shows(PlaylistPanel* panel, const std::function<bool(const Playlist&)>& wanted) {
        return QTest::qWaitFor([&] { return panel->playlist() && wanted(*panel->playlist()); },
                               5000);
    }
    // The results of rows `rows` (a click, then control-clicks) to a new
    // playlist `name` through the chooser; the panel that shows it.
    PlaylistPanel* makePlaylist(LibraryWindow* w, std::vector<int> rows, const char* name) {
        for (size_t i = 0; i < rows.size(); ++i)
            QTest::mouseClick(
                w->resultsView->viewport(), Qt::LeftButton,
                i ? Qt::ControlModifier : Qt::NoModifier,
                w->resultsView->visualRect(w->hitModel()->index(rows[i], 3)).center());
        QTest::mouseClick(w->findChild<QPushButton*>("libraryAddToPlaylist"), Qt::LeftButton);
        QPointer<PlaylistChooser> chooser;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return (chooser = w->findChild<PlaylistChooser*>()) != nullptr; }, 3000));
        if (!chooser || !QTest::qWaitForWindowExposed(chooser))
            return nullptr;
        // Active, as a click on it would make it.
        QApplication::setActiveWindow(chooser);
        QTest::mouseClick(chooser->nameEdit, Qt::LeftButton);
        typeJapanese(name);
        QTest::mouseClick(chooser->addButton, Qt::LeftButton);
        PlaylistPanel* panel = nullptr;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                panel = w->findChild<PlaylistPanel*>();
                return panel && panel->isVisible() && panel->playlist() &&
                       panel->playlist()->name == name;
            },
            5000))
            << (chooser ? chooser->problemLabel->text().toStdString() : "");
        return panel;
    }
    void clickRow(PlaylistPanel* panel, int row) {
        clickCell(panel->itemTable, row, 0);
        ASSERT_EQ(panel->itemTable->selectionModel()->selectedRows().size(), 1);
    }
    // Drags row `from` with the mouse and lets go on the half of row `to`
    // away from it. The drag runs its own loop once started: the moves after
    // it and the release come from within.
    static void dragRow(PlaylistPanel* panel, int from, int to) {
        QTableWidget* t = panel->itemTable;
        QWidget* port = t->viewport();
        const QPoint start = t->visualRect(t->model()->index(from, 0)).center();
        const QRect target = t->visualRect(t->model()->index(to, 0));
        const QPoint end(start.x(), to > from ? target.bottom() - 2 : target.top() + 2);
        QTest::mousePress(port, Qt::LeftButton, {}, start);
        QTimer::singleShot(0, port, [=] {
            for (int step = 1; step <= 6; ++step)
                QTest::mouseMove(port, start + (end - start) * step / 6);
            QTest::mouseRelease(port, Qt::LeftButton, {}, end);
        });
        for (int step = 1; step <= 3; ++step)
            QTest::mouseMove(port, start + QPoint(0, step * QApplication::startDragDistance()));
    }
    fs::path season;
    QString database;
};

std::vector<std::string> codes(const Playlist& p) {
    std::vector<std::string> out;
    for (const PlaylistItem& i : p.items)
        out.push_back(i.code);
    return out;
}

TEST_F(PlaylistScreens, MadeFromChosenResultsReorderedNotedAndAnotherAnalystsChangeShown) {
    LibraryWindow* w = openLibrary();
    ASSERT_NE(w, nullptr);
    PlaylistPanel* panel = makePlaylist(
        w, {resultRow(w, "東京", "スクラム"), resultRow(w, "大阪", "ラインアウト")}, "セット");
    ASSERT_NE(panel, nullptr);
    const Playlist& p = *panel->playlist();
    ASSERT_EQ(codes(p), (std::vector<std::string>{"スクラム", "ラインアウト"}));
    // 前 and 後 are the workspace's; the table shows match, time, code, team.
    EXPECT_EQ(p.items[0].lead, main->workspace->lead());
    EXPECT_EQ(p.items[1].lag, main->workspace->lag());
    QAbstractItemModel* m = panel->itemTable->model();
    EXPECT_EQ(m->data(m->index(1, 1)).toString(), "2026-09-20 大阪");
    EXPECT_EQ(m->data(m->index(1, 3)).toString(), "ラインアウト");
    EXPECT_EQ(m->data(m->index(1, 4)).toString(), "B");

    // ↑ on the second item: first now, and still the one chosen.
    clickRow(panel, 1);
    QTest::mouseClick(panel->upButton, Qt::LeftButton);
    ASSERT_TRUE(shows(panel, [](const Playlist& p) { return p.items[0].code == "ラインアウト"; }));
    EXPECT_EQ(panel->itemTable->selectionModel()->selectedRows().value(0).row(), 0);

    // A note typed into the field.
    QTest::mouseClick(panel->noteEdit, Qt::LeftButton);
    typeJapanese("低く入る");
    type(Qt::Key_Return);
    ASSERT_TRUE(shows(panel, [](const Playlist& p) { return p.items[0].note == "低く入る"; }));
    EXPECT_EQ(m->data(m->index(0, 5)).toString(), "低く入る");

    // Another analyst edits the same item first: the typed note is refused,
    // said with what was not kept, and the other's note shown.
    QString error;
    auto other = SeasonLibrary::open(database, &error);
    ASSERT_TRUE(other) << error.toStdString();
    PlaylistStore store(*other);
    PlaylistItem theirs = store.load(p.id, &error)->items[0];
    theirs.note = "腰を落とす";
    ASSERT_EQ(store.editItem(p.id, theirs, &error), PlaylistResult::Done);
    QTest::mouseClick(panel->noteEdit, Qt::LeftButton);
    type(Qt::Key_A, Qt::ControlModifier);
    type(Qt::Key_Backspace);
    typeJapanese("押し切る");
    type(Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel->messageLabel->isVisible(); }, 5000));
    EXPECT_EQ(panel->messageLabel->text(), PlaylistPanel::conflictMessage("メモ「押し切る」"));
    ASSERT_TRUE(shows(panel, [](const Playlist& p) { return p.items[0].note == "腰を落とす"; }));
    EXPECT_EQ(panel->noteEdit->text(), "腰を落とす");

    // Renamed by the name typed; deleted after a question.
    QTest::mouseClick(panel->nameEdit, Qt::LeftButton);
    typeJapanese("セット 2試合");
    QTest::mouseClick(panel->renameButton, Qt::LeftButton);
    // The list follows once the library answers (a refresh may come between).
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            QListWidgetItem* item = panel->playlistList->currentItem();
            return item && item->text() == "セット 2試合（2）" && panel->playlist() &&
                   panel->playlist()->name == "セット 2試合";
        },
        5000));
    dialogs.answers = {1}; // はい
    QTest::mouseClick(panel->deleteButton, Qt::LeftButton);
    EXPECT_EQ(dialogs.shown.back().message, "プレイリスト「セット 2試合」を削除しますか？");
    EXPECT_TRUE(QTest::qWaitFor([&] { return panel->playlistList->count() == 0; }, 5000));
}

// The offscreen platform ends a drag as it starts: ctest runs this on Xvfb
// as playlist_drag.
TEST_F(PlaylistScreens, ItemsDraggedIntoPlaceAndADragAfterAnotherAnalystsChangeRefused) {
    if (QGuiApplication::platformName() == "offscreen")
        GTEST_SKIP() << "no drag on the offscreen platform";
    LibraryWindow* w = openLibrary();
    ASSERT_NE(w, nullptr);
    PlaylistPanel* panel = makePlaylist(
        w, {resultRow(w, "東京", "スクラム"), resultRow(w, "大阪", "ラインアウト")}, "セット");
    ASSERT_NE(panel, nullptr);
    const qint64 id = panel->playlist()->id;
    QApplication::setActiveWindow(panel);
    dragRow(panel, 0, 1);
    ASSERT_TRUE(shows(panel, [](const Playlist& p) { return p.items[1].code == "スクラム"; }));
    EXPECT_EQ(panel->itemTable->selectionModel()->selectedRows().value(0).row(), 1);

    QString error;
    auto other = SeasonLibrary::open(database, &error);
    ASSERT_TRUE(other) << error.toStdString();
    PlaylistItem theirs = PlaylistStore(*other).load(id, &error)->items[1];
    theirs.note = "前に出る";
    ASSERT_EQ(PlaylistStore(*other).editItem(id, theirs, &error), PlaylistResult::Done);
    dragRow(panel, 1, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel->messageLabel->isVisible(); }, 5000));
    EXPECT_EQ(panel->messageLabel->text(),
              PlaylistPanel::conflictMessage("「" + theirs.title + "」の移動"));
    EXPECT_TRUE(shows(panel, [](const Playlist& p) {
        return codes(p) == std::vector<std::string>{"ラインアウト", "スクラム"} &&
               p.items[1].note == "前に出る";
    }));
}

TEST_F(PlaylistScreens, PublishedWithTheRealRendererShowsItsStateLinkAndQrCode) {
    LibraryWindow* w = openLibrary();
    ASSERT_NE(w, nullptr);
    PlaylistPanel* panel = makePlaylist(
        w, {resultRow(w, "東京", "スクラム"), resultRow(w, "大阪", "スクラム")}, "スクラム");
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->published->stateLabel->text(), "未公開");
    EXPECT_TRUE(panel->published->qrLabel->pixmap().isNull());

    QTest::mouseClick(panel->publishButton, Qt::LeftButton);
    PublishDialog* dialog = panel->findChild<PublishDialog*>();
    ASSERT_NE(dialog, nullptr);
    const fs::path folder = dir / "publish";
    QApplication::setActiveWindow(dialog);
    QTest::mouseClick(dialog->folderEdit, Qt::LeftButton);
    typeText(folder.c_str());
    QTest::mouseClick(dialog->groupCombo->lineEdit(), Qt::LeftButton);
    type(Qt::Key_A, Qt::ControlModifier);
    typeText("FW");
    const Deadline guard(120, "publishing two items");
    QTest::mouseClick(dialog->publishButton, Qt::LeftButton);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return panel->findChild<PublishDialog*>() == nullptr; }, 100000));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return panel->published->stateLabel->text() == "公開済み"; }, 5000));
    EXPECT_EQ(panel->playlist()->publishedGroups, QStringList{"FW"});
    const QString link = panel->published->linkText->toPlainText();
    EXPECT_TRUE(
        QRegularExpression("^http://localhost:8080/g/[A-Za-z0-9_-]{43}/$").match(link).hasMatch())
        << link.toStdString();
    const QPixmap qr = panel->published->qrLabel->pixmap();
    EXPECT_FALSE(qr.isNull());
    EXPECT_EQ(qr.toImage().convertToFormat(QImage::Format_RGB32), qrImage(link, 4));
    size_t media = 0;
    for (const auto& f : fs::directory_iterator(folder / "media"))
        media += f.path().extension() == ".mp4";
    EXPECT_EQ(media, 2u);

    // A new link after a question: the old token is gone, the code follows.
    dialogs.answers = {1}; // はい
    QTest::mouseClick(panel->published->revokeButton, Qt::LeftButton);
    const QString renewed = panel->published->linkText->toPlainText();
    EXPECT_TRUE(renewed.startsWith("http://localhost:8080/g/") && renewed != link);
    EXPECT_EQ(panel->published->qrLabel->pixmap().toImage().convertToFormat(QImage::Format_RGB32),
              qrImage(renewed, 4));

    // A change after publishing shows as such.
    QApplication::setActiveWindow(panel);
    clickRow(panel, 0);
    QTest::mouseClick(panel->noteEdit, Qt::LeftButton);
    typeJapanese("押す");
    type(Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return panel->published->stateLabel->text() == "公開後に変更あり"; }, 5000));
    EXPECT_EQ(panel->published->changesLabel->text(), "公開後: 題名/メモ 1");
}

TEST_F(PlaylistScreens, ScreensTagsGoToAPlaylistOnlyFromAMatchOfTheLibraryAndExportOneFileEach) {
    LibraryWindow* w = openLibrary();
    ASSERT_NE(w, nullptr);
    // 前 and 後 of 1 s, typed on the play screen.
    QApplication::setActiveWindow(window.get());
    click("menu_play_mode_button");
    for (QSpinBox* box : {play->momentLeadSpinBox, play->momentLagSpinBox}) {
        QTest::mouseClick(box, Qt::LeftButton);
        type(Qt::Key_A, Qt::ControlModifier);
        typeText("1");
        type(Qt::Key_Return);
    }
    click("menu_edit_mode_button");
    // The same match outside the library's folders: said, nothing added.
    const fs::path outside = dir / "elsewhere";
    fs::create_directories(outside);
    for (const char* ext : {".mp4", ".csv"})
        fs::copy_file(season / (std::string("2026-09-06 東京") + ext),
                      outside / (std::string("2026-09-06 東京") + ext));
    for (const fs::path& folder : {outside, season}) {
        const std::string video = (folder / "2026-09-06 東京.mp4").string();
        main->openVideo(video);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return main->session->isOpenVideo(video) && main->tagDataModel.data.size() == 2;
            },
            3000));
        QApplication::setActiveWindow(window.get());
        clickCell(edit->tagTableView, 1, 0); // the tick of ラインアウト
        dialogs.shown.clear();
        click("onTagAddToPlaylist");
        if (folder == outside) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.shown.empty(); }, 3000));
            EXPECT_EQ(dialogs.shown[0].message,
                      "この試合はシーズンライブラリにありません。ライブラリのフォルダーに保存して"
                      "から、もう一度してください。");
        }
    }
    QPointer<PlaylistChooser> chooser;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (chooser = window->findChild<PlaylistChooser*>()) != nullptr; }, 3000));
    QApplication::setActiveWindow(chooser);
    QTest::mouseClick(chooser->nameEdit, Qt::LeftButton);
    typeJapanese("東京");
    QTest::mouseClick(chooser->addButton, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !chooser; }, 5000));
    QString error;
    auto other = SeasonLibrary::open(database, &error);
    ASSERT_TRUE(other) << error.toStdString();
    const auto p = PlaylistStore(*other).load(QString("東京"), &error);
    ASSERT_TRUE(p);
    ASSERT_EQ(codes(*p), std::vector<std::string>{"ラインアウト"});
    EXPECT_EQ(p->items[0].lead, 1.0);
    EXPECT_TRUE(dialogs.shown.empty());

    // The play screen's chosen row, to the playlist picked in the chooser.
    click("menu_play_mode_button");
    clickCell(play->tagTableView, 0, 2); // スクラム
    click("onPlayAddToPlaylist");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (chooser = window->findChild<PlaylistChooser*>()) != nullptr; }, 3000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return chooser->playlistCombo->count() == 2; }, 3000));
    QApplication::setActiveWindow(chooser);
    chooseFilter(chooser->playlistCombo, "東京");
    QTest::mouseClick(chooser->addButton, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !chooser; }, 5000));

    // Its items a file each from the panel, cut at 前 and 後.
    QApplication::setActiveWindow(w);
    QTest::mouseClick(w->findChild<QPushButton*>("libraryPlaylists"), Qt::LeftButton);
    auto* panel = w->findChild<PlaylistPanel*>();
    ASSERT_TRUE(panel && shows(panel, [](const Playlist& p) {
                    return codes(p) == std::vector<std::string>{"ラインアウト", "スクラム"};
                }));
    clickRow(panel, 1);
    dialogs.paths = {(dir / "東京.mp4").string()};
    QTest::mouseClick(panel->exportEachButton, Qt::LeftButton);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return dialogs.saw("ハイライト出力が完了しました。"); }, 30000));
    EXPECT_EQ(frameNumbers(dir / "東京" / "001_B_ラインアウト_0-00-06.mp4"),
              frameSpans({{125, 174}}));
    EXPECT_EQ(frameNumbers(dir / "東京" / "002_A_スクラム_0-00-02.mp4"), frameSpans({{25, 74}}));
}

} // namespace
