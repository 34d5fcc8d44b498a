// Must not compile: the library runs without widgets.
#include <QWidget>
