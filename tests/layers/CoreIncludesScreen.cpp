// Must not compile: the core cannot see the screens.
#include "SubViewController/EditViewController.h"
