#pragma once

#include <functional>
#include <string>

// What the screens need of a video player. Times are in seconds; every call
// is made on the GUI thread and every callback arrives there.
class Player {
public:
    virtual ~Player() = default;

    // Position; 0 with no open file. At the end of the file it equals the
    // duration.
    virtual double currentTime() const = 0;
    // Length of the open file; NaN while unknown or with no file.
    virtual double duration() const = 0;
    // 0 while paused or with no file, else the playback speed.
    virtual float rate() const = 0;
    virtual void playImmediatelyAtRate(float rate) = 0;
    virtual void pause() = 0;
    // Lands on the first frame at or after `seconds`.
    virtual void seekExact(double seconds) = 0;
    // Lands on the key frame at or before `seconds`: quick, for following a
    // dragged pointer.
    virtual void seekFast(double seconds) = 0;
    virtual void seekToZero() = 0;
    // 0 to 1.
    virtual float volume() const = 0;
    virtual void setVolume(float volume) = 0;
    // Why the last file could not be opened or played; empty when nothing
    // went wrong.
    virtual std::string error() const = 0;
    // True while a file is open (loaded successfully and not closed).
    virtual bool hasCurrentItem() const = 0;
    // Path of the open file, or of the one being opened; empty when none.
    virtual std::string currentPath() const = 0;
    // Replaces the open file. `done(true)` follows once the new file is open
    // (paused on its first frame) and playing can start; `done(false)` when
    // it cannot be opened, with the reason in error(). A later call
    // supersedes an earlier pending one.
    virtual void replaceCurrentItem(const std::string& path, std::function<void(bool ok)> done) = 0;
    // `block` runs about once a second while a file is open, and after each
    // jump of the position (a seek), with the current time.
    virtual void addPeriodicTimeObserver(std::function<void(double)> block) = 0;
    // True from a seek until its frame is up (the position read before then
    // may not be the picture's).
    virtual bool isSeeking() const { return false; }
    // The file at `path` is still being written (a live recording) and holds
    // `edge` seconds so far. While it is the open file, its length is at least
    // the edge and its current end is waited at rather than ended at; it is
    // opened that way when set before it is opened. An empty path: none grows.
    virtual void setGrowingFile(const std::string& path, double edge) {
        (void)path;
        (void)edge;
    }
    // True while the open file is the growing one.
    virtual bool isGrowing() const { return false; }
};
