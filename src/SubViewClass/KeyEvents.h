#pragma once

#include <QKeyEvent>
#include <cstdint>

#include "SubModuleClass/KeyCode.h"

// The virtual key code of a Qt key event; Keycode::unknown for keys the
// application has no use for. By Qt key, so the shifted symbols of a key
// ("<" on the comma key) give the same code.
uint16_t keycodeOf(const QKeyEvent& event);

// Command+O on the original platform; Control is the command key here.
bool isCommandOnly(const QKeyEvent& event);
