// Must not compile: the report paints without widgets.
#include <QWidget>
