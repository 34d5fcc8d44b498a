#pragma once

#include <QString>
#include <filesystem>
#include <string>

class EditViewController;
class MainViewController;
class MainWindow;

// What the tours share (screenshot_tour.cpp).
namespace tours {

QString outFolder();
// A screenshot of the whole screen as the shot `name` of the tour.
void shoot(const QString& name);
// The file OUT_DIR/NAME.png was made by the application itself (a report
// page): counted as the shot `name`.
void madeShot(const QString& name);
int failed(const char* why);
bool openAndWait(MainViewController* main, const std::string& video);
bool chooseWindow(EditViewController* edit, const char* name);
// The two matches of the library tour in `folder`, on copies of `video`.
bool writeSeason(const std::filesystem::path& folder, const std::string& video);

} // namespace tours

// The match tour (match_tour.cpp).
int matchTour(MainWindow& window, const std::string& video);

// The playlists tour (playlist_tour.cpp).
int playlistTour(MainWindow& window, const std::string& video);

// The angles dialog tour (angles_tour.cpp).
int anglesDialogTour(MainWindow& window, const std::string& video);

// The angles tour (angles_play_tour.cpp).
int anglesTour(MainWindow& window, const std::string& video);

// The live recording tour (live_tour.cpp).
int liveTour(MainWindow& window, const std::string& video);
