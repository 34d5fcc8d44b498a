#include "keys/KeyRouter.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <optional>

#include "keys/KeyEvents.h"

KeyRouter::KeyRouter(Road edit, Road play, QObject* parent)
    : QObject(parent), edit_(std::move(edit)), play_(std::move(play)) {
    qApp->installEventFilter(this);
}

KeyRouter::~KeyRouter() {
    qApp->removeEventFilter(this);
}

int KeyRouter::historyKey(const QKeyEvent& event) {
    const Qt::KeyboardModifiers mods =
        event.modifiers() &
        (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    if (event.key() == Qt::Key_Z && mods == Qt::ControlModifier)
        return 1;
    if ((event.key() == Qt::Key_Z && mods == (Qt::ControlModifier | Qt::ShiftModifier)) ||
        (event.key() == Qt::Key_Y && mods == Qt::ControlModifier))
        return 2;
    return 0;
}

namespace {

bool isCopyKey(const QKeyEvent& e) {
    return e.matches(QKeySequence::SelectAll) || e.matches(QKeySequence::Copy);
}

// Digits, the keys that edit a number in place, and the box's own steps.
bool isSpinBoxKey(const QKeyEvent& e) {
    if (isCopyKey(e) || e.matches(QKeySequence::Paste) || e.matches(QKeySequence::Cut))
        return true;
    const Qt::KeyboardModifiers mods =
        e.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (mods != Qt::NoModifier)
        return false;
    const int k = e.key();
    return (k >= Qt::Key_0 && k <= Qt::Key_9) || k == Qt::Key_Backspace || k == Qt::Key_Delete ||
           k == Qt::Key_Home || k == Qt::Key_End || k == Qt::Key_Left || k == Qt::Key_Right ||
           k == Qt::Key_Up || k == Qt::Key_Down;
}

// Whether `w` edits text (nullopt: `w` is no text at all).
std::optional<bool> editsText(const QWidget* w) {
    if (const auto* line = qobject_cast<const QLineEdit*>(w))
        return !line->isReadOnly();
    if (const auto* text = qobject_cast<const QPlainTextEdit*>(w))
        return !text->isReadOnly();
    if (const auto* text = qobject_cast<const QTextEdit*>(w))
        return !text->isReadOnly();
    return std::nullopt;
}

// The key that ends the typing in `w`: Return or Escape in one line,
// Escape in several (Return is a new line there).
bool endsTyping(const QWidget* w, const QKeyEvent& e) {
    if (e.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const int k = e.key();
    if (const auto* line = qobject_cast<const QLineEdit*>(w))
        return !line->isReadOnly() &&
               (k == Qt::Key_Return || k == Qt::Key_Enter || k == Qt::Key_Escape);
    return k == Qt::Key_Escape && editsText(w).value_or(false);
}

bool isSpinBoxPart(const QWidget* w) {
    return qobject_cast<const QAbstractSpinBox*>(w) ||
           (w && qobject_cast<const QAbstractSpinBox*>(w->parentWidget()));
}

} // namespace

bool KeyRouter::keepsKey(const QWidget* w, const QKeyEvent& event) {
    if (isSpinBoxPart(w))
        return isSpinBoxKey(event);
    if (const std::optional<bool> editable = editsText(w))
        return *editable || isCopyKey(event);
    return false;
}

bool KeyRouter::isSequenceKey(const QWidget* w, const QKeyEvent& event) const {
    const uint16_t code = keycodeOf(event);
    return (code == Keycode::pageDown || code == Keycode::pageUp) && play_.screen &&
           play_.screen->isAncestorOf(w) && sequencePlaying && sequencePlaying();
}

bool KeyRouter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
        return false;
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || !w->isWidgetType())
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const auto inside = [w](const Road& road) {
        return road.screen && (road.screen == w || road.screen->isAncestorOf(w));
    };
    const Road* road = inside(edit_) ? &edit_ : inside(play_) ? &play_ : nullptr;
    if (!road)
        return false;
    if (isSpinBoxPart(w) && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
                             key->key() == Qt::Key_Escape)) {
        if (event->type() == QEvent::KeyPress && focusVideo)
            focusVideo();
        key->accept();
        return true;
    }
    if (!isSpinBoxPart(w) && endsTyping(w, *key)) {
        // Return leaves the line as typed; the edit is done.
        if (event->type() == QEvent::KeyPress && focusVideo)
            focusVideo();
        key->accept();
        return true;
    }
    if (keepsKey(w, *key) && !isSequenceKey(w, *key)) {
        if (event->type() == QEvent::KeyPress && !isSpinBoxPart(w) &&
            editsText(w).value_or(false) && isCodingKey && typedAsText && isCodingKey(*key))
            typedAsText(w);
        return false;
    }
    if (const int h = historyKey(*key)) {
        if (event->type() == QEvent::KeyPress && onHistoryKey)
            onHistoryKey(h);
        key->accept();
        return true;
    }
    // Claimed here so no shortcut of a focused control acts first.
    if (event->type() == QEvent::KeyPress && road->keyDown)
        road->keyDown(key);
    key->accept();
    return true;
}
