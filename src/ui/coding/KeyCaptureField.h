#pragma once

#include <QLineEdit>
#include <optional>

class QKeyEvent;

// With Shift on the number row, the digit of the key's place: a keyboard
// types Shift+1 as "!" (US, Japanese and most layouts) and Shift+2 as "@" or
// "\"" by layout, while window files write "Shift+1". X keycodes 10-19 are
// the number row's places (evdev codes + 8, on X11 and Wayland alike).
std::optional<Qt::Key> numberRowPlace(const QKeyEvent& event);

// A field that records the key pressed in it: one key with its modifiers,
// as a key text ("Q", "Shift+1", "F5"). Backspace and Delete clear it; Tab
// still moves the focus.
class KeyCaptureField : public QLineEdit {
    Q_OBJECT
public:
    explicit KeyCaptureField(QWidget* parent = nullptr);

signals:
    // The key pressed (empty: cleared); whoever listens keeps it or puts the
    // field's text back.
    void keyPressed(const QString& key);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};
