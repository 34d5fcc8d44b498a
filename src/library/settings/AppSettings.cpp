#include "settings/AppSettings.h"

QSettings appSettings() {
    return QSettings("Rucktag", "Rucktag");
}
