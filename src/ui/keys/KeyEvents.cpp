#include "keys/KeyEvents.h"

uint16_t keycodeOf(const QKeyEvent& event) {
    switch (event.key()) {
    case Qt::Key_A:
        return Keycode::a;
    case Qt::Key_S:
        return Keycode::s;
    case Qt::Key_D:
        return Keycode::d;
    case Qt::Key_O:
        return Keycode::o;
    case Qt::Key_Comma:
    case Qt::Key_Less:
        return Keycode::comma;
    case Qt::Key_Period:
    case Qt::Key_Greater:
        return Keycode::period;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft:
        return Keycode::leftBracket;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight:
        return Keycode::rightBracket;
    case Qt::Key_Space:
        return Keycode::space;
    case Qt::Key_Left:
        return Keycode::leftArrow;
    case Qt::Key_Right:
        return Keycode::rightArrow;
    case Qt::Key_Down:
        return Keycode::downArrow;
    case Qt::Key_Up:
        return Keycode::upArrow;
    case Qt::Key_Escape:
        return Keycode::escape;
    case Qt::Key_PageDown:
        return Keycode::pageDown;
    case Qt::Key_PageUp:
        return Keycode::pageUp;
    case Qt::Key_End:
        return Keycode::end;
    default:
        return Keycode::unknown;
    }
}

bool isModifierKey(const QKeyEvent& event) {
    switch (event.key()) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_Meta:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
        return true;
    default:
        return false;
    }
}

bool isCommandOnly(const QKeyEvent& event) {
    const Qt::KeyboardModifiers mods =
        event.modifiers() &
        (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    return mods == Qt::ControlModifier;
}

bool isCapsLockOn(const QKeyEvent& event) {
    // X11 and Wayland (xkb) both put Lock in bit 1 of the native state.
    constexpr quint32 kLockMask = 0x2;
    return (event.nativeModifiers() & kLockMask) != 0;
}
