// Must not compile: the core builds without Qt.
#include <QString>
