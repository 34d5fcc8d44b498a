// Must not compile: the web server runs without widgets.
#include <QWidget>
