#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <ostream>
#include <string>
#include <vector>

#include "index/SeasonLibrary.h"

// `rucktag library add FOLDER…`, `rucktag library scan` and
// `rucktag library search [--code NAME] [--team A|B] [--label GROUP=TEXT]
// [--text WORDS] [--json]`, with `--database URL` anywhere after the action.
// `args` are the words after "library"; a QCoreApplication must exist.
// Returns 0 done (a search that found nothing too), 1 the library could not
// be reached or written, 2 bad usage.
int runLibraryCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The tags a search finds, for other commands: `args` are the search's
// options (--database URL, --code, --team, --label, --text, --from, --to).
// Returns 0 with `hits` filled, 1 the library could not be reached, 2 bad
// usage; the reason goes to `err`.
int searchLibraryTags(const std::vector<std::string>& args, std::vector<library::Hit>& hits,
                      std::ostream& err);

// The options a search takes, for the commands that find tags as it does.
struct SearchOptions {
    QCommandLineOption code{QStringLiteral("code"), QString(), QStringLiteral("NAME")};
    QCommandLineOption team{QStringLiteral("team"), QString(), QStringLiteral("A|B")};
    QCommandLineOption label{QStringLiteral("label"), QString(), QStringLiteral("GROUP=TEXT")};
    QCommandLineOption text{QStringLiteral("text"), QString(), QStringLiteral("WORDS")};
    QCommandLineOption from{QStringLiteral("from"), QString(), QStringLiteral("DATE")};
    QCommandLineOption to{QStringLiteral("to"), QString(), QStringLiteral("DATE")};
    QCommandLineOption json{QStringLiteral("json")};
};

// The query the search options ask; false with the usage error in `why`.
bool readQuery(const QCommandLineParser& parser, const SearchOptions& o, library::Query& query,
               std::string& why);
