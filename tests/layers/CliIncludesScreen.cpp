// Must not compile: the commands run before any window.
#include "SubViewClass/MainWindow.h"
