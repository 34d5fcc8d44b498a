#pragma once

#include <QSettings>

// The application's remembered preferences: the screens' shared choices and
// the library's owed scans. The one place they are opened; here, the lowest
// layer that keeps any, so the library's thread reaches them without the
// windows. A new object for each use: a QSettings belongs to one thread, and
// the objects of one process see each other's changes at once.
QSettings appSettings();
