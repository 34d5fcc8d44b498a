#include "SubViewClass/KeyRouter.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

#include "SubViewClass/KeyEvents.h"

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

bool KeyRouter::keepsKeys(const QWidget* w) {
    if (const auto* line = qobject_cast<const QLineEdit*>(w))
        return !line->isReadOnly();
    if (const auto* text = qobject_cast<const QPlainTextEdit*>(w))
        return !text->isReadOnly();
    if (const auto* text = qobject_cast<const QTextEdit*>(w))
        return !text->isReadOnly();
    return qobject_cast<const QAbstractSpinBox*>(w) != nullptr;
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
    if (keepsKeys(w) && !isSequenceKey(w, *key))
        return false;
    const auto inside = [w](const Road& road) {
        return road.screen && (road.screen == w || road.screen->isAncestorOf(w));
    };
    const Road* road = inside(edit_) ? &edit_ : inside(play_) ? &play_ : nullptr;
    if (!road)
        return false;
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
