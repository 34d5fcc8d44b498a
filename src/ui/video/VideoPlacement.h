#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

class QWidget;

// Keeps the one video view over the shown screen's media box. Once the main
// view has first shown (and laid itself out), the video is placed again after
// the main view changes size (full screen included) or the shown box moves or
// changes size (a screen shown for the first time settles after the switch),
// once the layout has settled; else it would stay where the old box was.
class VideoPlacement : public QObject {
public:
    // `shownBox`: the shown screen's media box; `appeared`: the first showing,
    // laid out; `place`: puts the video over the box.
    VideoPlacement(QWidget* main, std::function<QWidget*()> shownBox,
                   std::function<void()> appeared, std::function<void()> place);
    // A screen's media box, followed while it is the one shown.
    void follow(QWidget* box);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* main_;
    std::function<QWidget*()> shownBox_;
    std::function<void()> appeared_;
    QTimer later_;
    bool shown_ = false;
};
