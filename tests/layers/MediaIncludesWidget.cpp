// Must not compile: playback and export run without widgets.
#include <QWidget>
