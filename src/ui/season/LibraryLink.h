#pragma once

#include <QObject>
#include <functional>
#include <string>

class LibraryClient;
class LibraryWindow;
class MainViewController;
class QWidget;

// The main view's way to the season library: the client, opened on first
// use (at once when the last run closed with saves it had not taken), every
// save indexed into it, its notices for the status area, its window, and the
// way a found tag is shown.
class LibraryLink : public QObject {
    Q_OBJECT
public:
    explicit LibraryLink(MainViewController* main);

    LibraryClient* client();
    // The window, made on first use (a window of its own beside the main
    // one), shown and raised.
    QWidget* showWindow();
    LibraryWindow* window() const { return window_; }
    // The video shown at the tag of `code` that is `position` (from 0) in
    // its session file, at `time`: opened through the open flow when another
    // video is open (cancelled, nothing changes); its row chosen on the edit
    // screen and the video at it as a click on the row does. `done` runs
    // once it is shown.
    void openAtTag(const std::string& video, int position, double time, const std::string& code,
                   std::function<void()> done = {});

signals:
    // Something about the library for the status area ("" clears it).
    void notice(const QString& text);

private:
    MainViewController* main_;
    LibraryClient* client_ = nullptr;
    LibraryWindow* window_ = nullptr;
};
