#pragma once

class QScreen;
class MainWindow;

// What Rucktag sets up in its application before any window: the tests run
// on the same set-up.
void prepareApplication();

// Sizes the main window for `screen`'s free area (the main view takes 0.9 of
// it at most) and centres it there.
void placeMainWindow(MainWindow& window, QScreen* screen);
