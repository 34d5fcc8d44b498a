// The playlists tour: a playlist of three moments from the season of the
// library tour, with notes; the publish dialog, then the panel once it is
// published to FW with its link and QR code.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <filesystem>

#include "MainViewController.h"
#include "SubViewClass/MainWindow.h"
#include "client/LibraryClient.h"
#include "playlists/PlaylistPanel.h"
#include "playlists/PublishDialog.h"
#include "playlists/PublishedBox.h"
#include "season/LibraryLink.h"
#include "season/LibraryWindow.h"
#include "tour.h"

namespace {

using namespace tours;
using namespace library;

// 東京's try and a scrum of each match, with notes.
std::vector<PlaylistItem> itemsOf(const std::vector<Hit>& hits) {
    const char* const chosen[][3] = {{"トライ", "東京", "右へ展開してから、外で数的優位を作る"},
                                     {"スクラム", "東京", "ヒットで低く。8人でまとまって押す"},
                                     {"スクラム", "大阪", "ボールが出るまで姿勢を崩さない"}};
    std::vector<PlaylistItem> items;
    for (const auto& [code, match, note] : chosen)
        for (const Hit& h : hits)
            if (h.code == code && h.title.contains(QString::fromUtf8(match))) {
                items.push_back(playlistItem(h, 3, 4, QString::fromUtf8(note)));
                break;
            }
    return items;
}

} // namespace

int playlistTour(MainWindow& window, const std::string& video) {
    MainViewController* main = window.mainViewController();
    const std::filesystem::path season = (outFolder() + "/season").toStdString();
    if (!writeSeason(season, video))
        return failed("the season's matches could not be written");
    LibraryClient* client = main->library();
    client->open();
    bool scanned = false;
    client->addFolders({QString::fromStdString(season.string())},
                       [&](const ScanReport&, const QString&) { scanned = true; });
    std::vector<Hit> hits;
    client->search(Query{}, [&](const std::vector<Hit>& found, const QString&) { hits = found; });
    bool made = false;
    client->createPlaylist("セットプレー 2試合", [&](PlaylistResult, const QString&) {});
    client->playlists([&](const std::vector<Playlist>& lists, const QString&) {
        if (lists.empty())
            return;
        client->appendToPlaylist(
            lists.front().id, lists.front().revision, itemsOf(hits),
            [&](PlaylistResult r, const QString&) { made = r == PlaylistResult::Done; });
    });
    if (!QTest::qWaitFor([&] { return scanned && made; }, 30000))
        return failed("the playlist was not made");

    auto* libraryButton = window.findChild<QToolButton*>("window_library");
    if (!libraryButton)
        return failed("no library button in the header");
    QTest::mouseClick(libraryButton, Qt::LeftButton);
    LibraryWindow* library = main->libraryLink()->window();
    if (!library || !QTest::qWaitForWindowExposed(library))
        return failed("the library window did not open");
    QTest::mouseClick(library->findChild<QPushButton*>("libraryPlaylists"), Qt::LeftButton);
    auto* panel = library->findChild<PlaylistPanel*>("playlistPanel");
    if (!panel || !QTest::qWaitFor([&] { return panel->itemTable->rowCount() == 3; }, 10000))
        return failed("the panel did not show the playlist");
    panel->move(20, 30);
    panel->itemTable->selectRow(1);

    QTest::mouseClick(panel->publishButton, Qt::LeftButton);
    auto* dialog = panel->findChild<PublishDialog*>();
    if (!dialog)
        return failed("no publish dialog");
    dialog->folderEdit->setText(outFolder() + "/publish");
    dialog->groupCombo->setCurrentText("FW");
    QTest::qWait(500);
    shoot("playlist-publish");
    QTest::mouseClick(dialog->publishButton, Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return !panel->findChild<PublishDialog*>(); }, 300000) ||
        !QTest::qWaitFor([&] { return panel->published->stateLabel->text() == "公開済み"; }, 10000))
        return failed("publishing did not end");
    panel->raise();
    QTest::qWait(500);
    shoot("playlist-panel");
    return 0;
}
