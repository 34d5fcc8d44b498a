#pragma once

#include <QDialog>
#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include "angles/AudioOffset.h"
#include "match/Angles.h"

class AngleView;
class QLabel;
class QProgressBar;
class QPushButton;

// Where an angle's video stands against the main video: the two side by
// side, each moved on its own to one moment seen in both (a kick-off, a
// whistle), marked with この瞬間を合わせる; a second moment late in the match
// corrects the drift of the cameras' clocks. 音で合わせる proposes the offset
// from the two sound tracks on a thread of its own. OK gives the angle
// aligned; nothing is changed before.
class AngleAlignDialog : public QDialog {
    Q_OBJECT
public:
    // `at`: the main video's time to show first (the angle at its time).
    AngleAlignDialog(const std::string& mainPath, const std::string& anglePath,
                     const MatchAngle& angle, double at, QWidget* parent);
    ~AngleAlignDialog() override;

    const MatchAngle& angle() const { return angle_; }

    AngleView* mainView = nullptr;
    AngleView* angleView = nullptr;

    // The moment both views show now is a common one.
    void markEvent();
    void clearEvents();
    // Starts (or, running, stops) the proposal from the sound.
    void proposeFromSound();
    void acceptProposal();
    // The angle view moves to the instant the main view shows, as aligned.
    void showMatched();

    void reject() override;

private:
    struct Event {
        double main, angle;
    };
    QWidget* makeEventRow();
    QWidget* makeSoundRow();
    void soundDone(const AudioOffsetGuess& guess);
    void stopSound();
    void showMap();

    std::string mainPath_, anglePath_;
    MatchAngle angle_;
    std::optional<Event> events_[2];
    std::optional<double> proposed_;

    QLabel* eventsText_ = nullptr;
    QLabel* mapText_ = nullptr;
    QLabel* soundText_ = nullptr;
    QPushButton* soundButton_ = nullptr;
    QPushButton* useProposal_ = nullptr;
    QProgressBar* soundBusy_ = nullptr;
    std::thread sound_;
    std::atomic<bool> cancel_{false};
    bool soundRunning_ = false;
};
