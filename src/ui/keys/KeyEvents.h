#pragma once

#include <QKeyEvent>
#include <cstdint>

#include "SubModuleClass/KeyCode.h"

// The virtual key code of a Qt key event; Keycode::unknown for keys the
// application has no use for. By Qt key, so the shifted symbols of a key
// ("<" on the comma key) give the same code.
uint16_t keycodeOf(const QKeyEvent& event);

// True for a key that only modifies others (Shift, Control, Caps Lock...).
bool isModifierKey(const QKeyEvent& event);

// True when Control, the command key here, is the only modifier held.
bool isCommandOnly(const QKeyEvent& event);

// True when Caps Lock was on: Qt's modifiers do not tell, the native state
// of the key event does.
bool isCapsLockOn(const QKeyEvent& event);
