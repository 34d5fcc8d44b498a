#pragma once

#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>

class MpvPlayer;
class QLabel;
class QPushButton;
class QSlider;

// One video of the alignment, with its own player: the picture, a slider in
// frames of this video (arrow keys a frame, Page Up and Down a second), the
// time and frame shown, play and pause, and steps of a frame or a second.
// Independent of the screens' players: moving it moves nothing else.
class AngleView : public QWidget {
    Q_OBJECT
public:
    // `id` prefixes the controls' object names ("main", "angle").
    AngleView(const QString& title, const QString& id, QWidget* parent);
    ~AngleView() override;

    // Options given to every player made here (tests: no sound device).
    static std::map<std::string, std::string>& playerOptions();

    // Opens `path`, paused, and shows `at` once open; `done(false)` with the
    // reason when it cannot be played.
    void open(const std::string& path, double at,
              std::function<void(bool ok, const std::string& error)> done);
    bool isOpen() const;
    // The time of the frame shown (or about to be, after a seek).
    double time() const;
    double frameSeconds() const { return 1.0 / fps_; }
    // Shows the frame at `seconds`, paused as it was.
    void show(double seconds);
    // Moves by `frames` frames from the one shown.
    void step(int frames);
    void togglePlay();
    void pause();

    MpvPlayer* player() const { return player_.get(); }
    QWidget* surface() const { return surface_; }
    QSlider* slider = nullptr;
    QLabel* timeText = nullptr;
    QPushButton* playButton = nullptr;

private:
    QWidget* makeControls(const QString& id);
    void refresh();
    int frameOf(double seconds) const;
    int secondFrames() const;

    std::unique_ptr<MpvPlayer> player_;
    QWidget* surface_ = nullptr;
    double fps_ = 25.0;
    bool showing_ = false; // the slider is set from the player, not by the user
    QTimer refresh_;
};
