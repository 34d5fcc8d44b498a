// Must not compile: the library cannot see the screens.
#include "season/LibraryWindow.h"
