#pragma once

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "live/LiveRecorder.h"

class MainViewController;
class MediaPlayerView;

// The link between a recording being written and the screens. Once the
// recording holds its first second, the edit screen opens it and codes at the
// live edge; 「ライブへ」 (or End) goes back there. The
// player takes the recorder's edge as the video's length, so the time text,
// the timelines and the tally follow it; the timelines hatch the gaps, and the
// recorder's state and the disk's minutes left show beside 「ライブへ」, under
// the player bar, as they change.
class LiveSession : public QObject {
    Q_OBJECT
public:
    // Recorded before the file is opened: mpv needs frames to open it.
    static constexpr double kOpenAfter = 1.0;
    // Fewer minutes of disk left than this at the current rate are warned of.
    static constexpr double kDiskWarningMinutes = 10.0;

    // Follows `recorder` (which outlives the session) from its reports on.
    LiveSession(LiveRecorder& recorder, MainViewController* main);
    // The player bar as it was; the file, if open, stays open as a finished one.
    ~LiveSession() override;

    // Reads the recorder's state and shows it: each of its reports.
    void refresh();
    // Reads the gaps again and marks them.
    void refreshGaps();
    const std::string& path() const { return recorder_.output(); }
    // The recording is the open video.
    bool isOpen() const;
    QPushButton* liveButton() const { return button_; }
    QLabel* stateLabel() const { return state_; }
    // What the state label says: the state, since when without signal, the
    // disk's minutes left.
    static QString stateText(const LiveStatus& status);
    // Whether the state or the disk needs the analyst's eye (shown in red).
    static bool needsAttention(const LiveStatus& status);

signals:
    // The recording is open on the edit screen, at its live edge.
    void opened();

private:
    void makeWidgets();
    void open();

    LiveRecorder& recorder_;
    MainViewController* main_;
    // Gone before the session when the main view closes with it as a child.
    QPointer<MediaPlayerView> view_;
    QPointer<QWidget> row_; // under the player bar
    QPointer<QPushButton> button_;
    QPointer<QLabel> state_;
    std::vector<QPointer<QWidget>> gapMarks_; // one over each screen's timeline
    bool opening_ = false;
    // mpv reached the end while the source was silent: back to live once it
    // is written again.
    bool stalled_ = false;
};
