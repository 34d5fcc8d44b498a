#include "video/VideoPlacement.h"

#include <QEvent>
#include <QWidget>

VideoPlacement::VideoPlacement(QWidget* main, std::function<QWidget*()> shownBox,
                               std::function<void()> appeared, std::function<void()> place)
    : QObject(main), main_(main), shownBox_(std::move(shownBox)), appeared_(std::move(appeared)) {
    later_.setSingleShot(true);
    later_.setInterval(0);
    connect(&later_, &QTimer::timeout, this, std::move(place));
    main->installEventFilter(this);
}

void VideoPlacement::follow(QWidget* box) {
    box->installEventFilter(this);
}

bool VideoPlacement::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == main_ && type == QEvent::Show && !shown_) {
        shown_ = true;
        // Laid out only once the widgets have their sizes.
        QTimer::singleShot(0, this, appeared_);
    } else if (shown_ && (watched == main_ ? type == QEvent::Resize
                                           : (type == QEvent::Resize || type == QEvent::Move) &&
                                                 watched == shownBox_())) {
        later_.start();
    }
    return QObject::eventFilter(watched, event);
}
