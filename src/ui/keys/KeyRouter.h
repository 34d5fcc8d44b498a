#pragma once

#include <QObject>
#include <QTimer>

#include "keys/KeyMap.h"

class MainViewController;
class QKeyEvent;
class QLabel;
class QWidget;

// The one road for keys: an application event filter takes every key pressed
// on the video (in its window or in full screen) or inside the two screens,
// whatever widget holds the focus, looks it up in the key map and does what
// it says. Editable text keeps its keys; read-only text keeps select-all and
// copy; a spin box keeps digits, its editing keys and ↑/↓. Return or Escape
// that ends the typing gives the focus back to the video.
class KeyRouter : public QObject {
    Q_OBJECT
public:
    static constexpr const char* TYPING_HINT = "文字入力中：コードは記録されません（Escで戻る）";

    explicit KeyRouter(MainViewController* main);
    ~KeyRouter() override;

    KeyMap& keyMap() { return map_; }
    // True when `w` keeps `event` for itself instead of the key map.
    static bool keepsKey(const QWidget* w, const QKeyEvent& event);
    // The focus back where coding happens (the video), a text field's work
    // being done.
    void focusVideo();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool editShown() const;
    bool isSequenceKey(const QWidget* w, const QKeyEvent& event) const;
    // Return or Escape ending the typing in `w` (a text field, a spin box).
    static bool endsTypingIn(const QWidget* w, const QKeyEvent& key);
    // Whether `w` keeps the key; a code's key typed as text shows the hint.
    bool keptBy(QWidget* w, const QKeyEvent& key, bool press);
    void perform(const KeyAction& action);
    void performOnPlayer(const KeyAction& action);
    // The brief note beside a text field that took a code's key as text.
    void showTypingHint(QWidget* field);

    MainViewController* main_;
    KeyMap map_;
    QLabel* typingHint_ = nullptr;
    QTimer typingHintTimer_;
};
