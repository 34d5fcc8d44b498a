#pragma once

#include <memory>

#include <QLabel>
#include <QPoint>
#include <QWidget>

class MainViewController;
class Player;
class QToolButton;

// The window's header: drags the frameless window, and a double click toggles
// full screen as the maximise control does.
class HeaderView : public QLabel {
    Q_OBJECT
public:
    explicit HeaderView(QWidget* parent = nullptr);
    QPoint initialLocation{-1, -1};
    // Where the window goes when the pointer, pressed at `initial` in the
    // window, is now at `pointer` (window coordinates) and the window is at
    // `origin`.
    static QPoint draggedWindowOrigin(QPoint origin, QPoint pointer, QPoint initial) {
        return origin + pointer - initial;
    }

signals:
    void doubleClicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// The frameless main window: its header with the window controls (minimise,
// maximise, close, save) above the main view.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    // `player` replaces the real player (tests).
    explicit MainWindow(std::unique_ptr<Player> player = {});
    MainViewController* mainViewController() const { return controller_; }
    HeaderView* header() const { return header_; }
    // The window may be resized (by its corner grip) only while true.
    void setResizable(bool on);
    bool isResizable() const { return resizable_; }
    void toggleFullScreen();
    // Sizes the window so that the main view gets `viewSize`.
    void fitMainView(QSizeF viewSize);
    // The season library's window, made and shown (raised when shown).
    QWidget* showLibrary();
    // What the header says about the library ("" when nothing).
    QLabel* libraryStatus() const { return libraryStatus_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QToolButton* windowButton(const char* identifier, const char* icon, const QString& tip);
    MainViewController* controller_;
    HeaderView* header_;
    QLabel* libraryStatus_;
    QWidget* grip_;
    bool resizable_ = true;
};
