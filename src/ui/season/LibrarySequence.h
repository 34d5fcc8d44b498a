#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <string>
#include <vector>

#include "index/SeasonLibrary.h"
#include "review/Moments.h"

class MainViewController;
class MomentSequence;

// A moment of a tag found in the library: the video it is in, and the hits
// (indexes into the list it was made from) it covers, the first naming it.
struct LibraryMoment {
    std::string video;
    Moment moment;
    std::vector<size_t> hits;
    // The first hit's tag: its place in its session file, time and code.
    int position = 0;
    double time = 0.0;
    std::string code;
};

class QWidget;
// Library moments (from any videos) into one highlight video at `path` in
// the export window, or (`each`) a file per moment as well, in the folder
// made beside it. Refused with a message when a target would replace one of
// the videos.
void exportLibraryMoments(QWidget* parent, const std::vector<LibraryMoment>& moments,
                          const std::string& path, bool each);

// The moments of `hits` in list order, made per run of hits of one video as
// makeMoments makes them (lead and lag, the code window's own, merged when
// they overlap). `length` gives a video's length (NaN: unknown).
std::vector<LibraryMoment> libraryMoments(const std::vector<library::Hit>& hits, double lead,
                                          double lag, const CodeWindow* window,
                                          const std::function<double(const std::string&)>& length);

// Plays library moments one after another, across videos: the open video's
// unsaved tags are asked about once before the start; each next video is
// opened through the open flow and its moments are played as the play
// screen's sequence plays them (an exact seek while paused, playing once the
// frame is up).
class LibrarySequence : public QObject {
    Q_OBJECT
public:
    LibrarySequence(MainViewController* main, QObject* parent = nullptr);

    // False when nothing starts (no moments, or the user kept the video).
    bool start(std::vector<LibraryMoment> moments, float rate);
    void stop();
    bool isActive() const { return active_; }
    // The moment playing (or being opened), from 0.
    int current() const { return current_; }
    const std::vector<LibraryMoment>& moments() const { return moments_; }
    MomentSequence* runner() const { return runner_; }

signals:
    // Moment `index` starts (its video is open and the seek asked).
    void momentStarted(int index);
    void ended();

private:
    // Plays the moments of one video from `first`, opening it when needed.
    void playRun(size_t first);
    void startRun(size_t first);
    void finish();

    MainViewController* main_;
    MomentSequence* runner_;
    std::vector<LibraryMoment> moments_;
    size_t runStart_ = 0;
    int current_ = -1;
    float rate_ = 1.0f;
    bool active_ = false;
    bool advancing_ = false;
    int generation_ = 0; // an older opening's answer is dropped
};
