#pragma once

#include <QObject>
#include <functional>

class QKeyEvent;
class QWidget;

// One road for the keys pressed inside the screens, whatever widget holds the
// focus: an application event filter hands each key to its screen's handler.
// Editable text keeps its keys; read-only text keeps select-all and copy; a
// spin box keeps digits, its editing keys and ↑/↓, and gives the focus back
// to the video on Return or Escape. Undo and redo keys act on both screens.
class KeyRouter : public QObject {
    Q_OBJECT
public:
    struct Road {
        QWidget* screen = nullptr;
        std::function<void(QKeyEvent*)> keyDown;
    };
    explicit KeyRouter(Road edit, Road play, QObject* parent = nullptr);
    ~KeyRouter() override;

    // 1 for undo (Ctrl+Z), 2 for redo (Ctrl+Shift+Z, Ctrl+Y), else 0.
    static int historyKey(const QKeyEvent& event);
    // True when `w` keeps `event` for itself instead of the screen.
    static bool keepsKey(const QWidget* w, const QKeyEvent& event);

    std::function<void(int which)> onHistoryKey;
    // Page Down / Page Up reach the play screen even from its text boxes
    // while this says a sequence plays.
    std::function<bool()> sequencePlaying;
    // Puts the focus on the video (Return or Escape in a spin box or a
    // one-line text field, Escape in a text of several lines).
    std::function<void()> focusVideo;
    // Whether the key would code (a code's or a label's key on the edit
    // screen), and what to show when text field `w` took it as text instead.
    std::function<bool(const QKeyEvent&)> isCodingKey;
    std::function<void(QWidget* w)> typedAsText;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool isSequenceKey(const QWidget* w, const QKeyEvent& event) const;
    Road edit_, play_;
};
