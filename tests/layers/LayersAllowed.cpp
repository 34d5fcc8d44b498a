// Must compile: what each layer may include, so the failures above are the
// includes' own and not a broken probe.
#include "Model/DataModel.h"
#include "client/LibraryClient.h"
#include "commands/XmlCommand.h"
#include "player/MpvPlayer.h"
#include "render/ReportFiles.h"
#include "web/WebServer.h"
