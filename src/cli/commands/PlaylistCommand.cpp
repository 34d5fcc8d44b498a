#include "commands/PlaylistCommand.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <memory>

#include "codewindow/CodeWindow.h"
#include "commands/LibraryCommand.h"
#include "playlist/Playlists.h"
#include "review/Moments.h"
#include "text/TimeText.h"

using library::Playlist;
using library::PlaylistItem;
using library::PlaylistResult;

namespace {

constexpr const char* kUsage =
    "使い方 / Usage:\n"
    "  rucktag playlist create NAME\n"
    "    空のプレイリストを作ります。 / Makes an empty playlist.\n"
    "  rucktag playlist add NAME [--code NAME] [--team A|B] [--label GROUP=TEXT]\n"
    "                            [--text WORDS] [--from DATE] [--to DATE]\n"
    "                            [--note TEXT] [--lead 秒] [--lag 秒]\n"
    "    ライブラリの検索 (rucktag library search と同じ条件) で見つかったタグをすべて、\n"
    "    試合と時刻の順に加えます (前 8 秒・後 4 秒が既定)。--note は各項目のメモです。\n"
    "    Adds every tag the library search (as rucktag library search) finds, in match\n"
    "    and time order (lead 8 s, lag 4 s by default); --note is each item's note.\n"
    "  rucktag playlist show NAME [--json]\n"
    "    項目を再生順に出します。--json で 1 行に 1 項目の JSON を出します。\n"
    "    Prints the items in play order; --json prints one JSON object per item a line.\n"
    "  rucktag playlist list\n"
    "    プレイリストの一覧です。 / Lists the playlists.\n"
    "  rucktag playlist remove NAME\n"
    "    プレイリストを消します。 / Removes the playlist.\n"
    "  --database URL  rucktag library と同じです (既定は環境変数 RUCKTAG_LIBRARY、なければ\n"
    "                  $XDG_DATA_HOME/rucktag/library.sqlite)。\n"
    "                  As for rucktag library (default: RUCKTAG_LIBRARY, else\n"
    "                  $XDG_DATA_HOME/rucktag/library.sqlite).\n"
    "  ほかの人が同時に同じプレイリストを変えたときは、何も書かずに 1 で終わります\n"
    "  (add は読み直して加えます)。\n"
    "  When someone else changed the playlist at the same moment, nothing is written and\n"
    "  the exit status is 1 (add reads it again and adds).\n";

// How often `add` reads the playlist again when others keep changing it.
constexpr int kAddTries = 20;

int usage(std::ostream& err, const std::string& why) {
    if (!why.empty())
        err << why << "\n";
    err << kUsage;
    return 2;
}

int failed(std::ostream& err, const QString& why) {
    err << why.toStdString() << "\n";
    return 1;
}

QString notFound(const QString& name) {
    return QStringLiteral("プレイリストがありません / no such playlist: ") + name;
}

struct Options {
    QCommandLineOption database{QStringLiteral("database"), QString(), QStringLiteral("URL")};
    QCommandLineOption note{QStringLiteral("note"), QString(), QStringLiteral("TEXT")};
    QCommandLineOption lead{QStringLiteral("lead"), QString(), QStringLiteral("S")};
    QCommandLineOption lag{QStringLiteral("lag"), QString(), QStringLiteral("S")};
    SearchOptions search;
};

// The options each action takes (besides --database).
QSet<QString> allowedFor(const std::string& action) {
    if (action == "add")
        return {"code", "team", "label", "text", "from", "to", "note", "lead", "lag"};
    if (action == "show")
        return {"json"};
    return {};
}

bool readSeconds(const QCommandLineParser& parser, const QCommandLineOption& option, double& value,
                 std::string& why) {
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    value = parser.value(option).toDouble(&ok);
    if (ok && value >= 0.0 && value <= kMaxLeadLag)
        return true;
    const std::string name = "--" + option.names().front().toStdString();
    why = name + " は 0 から 60 までの秒数です / " + name +
          " takes seconds from 0 to 60: " + parser.value(option).toStdString();
    return false;
}

std::string timeText(double seconds) {
    return createTimeString(static_cast<float>(seconds));
}

QString matchText(const PlaylistItem& i) {
    return (i.matchDate + QLatin1Char(' ') + i.matchTitle).trimmed();
}

void printJson(std::ostream& out, const Playlist& p) {
    for (const PlaylistItem& i : p.items) {
        QJsonObject o;
        o.insert(QStringLiteral("title"), i.title);
        o.insert(QStringLiteral("match"), matchText(i));
        o.insert(QStringLiteral("matchTime"), i.matchTime);
        o.insert(QStringLiteral("time"), i.time);
        o.insert(QStringLiteral("end"), i.end ? QJsonValue(*i.end) : QJsonValue(QJsonValue::Null));
        o.insert(QStringLiteral("code"), QString::fromStdString(i.code));
        o.insert(QStringLiteral("team"), i.teamA ? QStringLiteral("A") : QStringLiteral("B"));
        o.insert(QStringLiteral("lead"), i.lead);
        o.insert(QStringLiteral("lag"), i.lag);
        o.insert(QStringLiteral("note"), i.note);
        o.insert(QStringLiteral("video"), QString::fromStdString(i.video));
        out << QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString() << "\n";
    }
}

QString publishedText(const Playlist& p) {
    if (p.publishedRevision == 0)
        return QStringLiteral("未公開 / not published");
    return QStringLiteral("公開 / published: 版 %1, %2, %3")
        .arg(p.publishedRevision)
        .arg(p.publishedAt, p.publishedGroups.join(QStringLiteral("・")));
}

void printPlaylist(std::ostream& out, const Playlist& p) {
    out << p.name.toStdString() << "  (版 / revision " << p.revision << ", "
        << publishedText(p).toStdString() << ")\n";
    int n = 0;
    for (const PlaylistItem& i : p.items) {
        QString note = i.note;
        note.replace(QLatin1Char('\n'), QLatin1Char(' '));
        out << ++n << ". " << i.title.toStdString() << "  " << matchText(i).toStdString() << "  "
            << (i.teamA ? "A" : "B") << "  " << timeText(i.from()) << "–" << timeText(i.to())
            << (note.isEmpty() ? "" : "  ") << note.toStdString() << "\n";
    }
    out << p.items.size() << " 件\n";
}

void printList(std::ostream& out, const std::vector<Playlist>& all) {
    for (const Playlist& p : all)
        out << p.name.toStdString() << "  " << p.itemCount << " 件  (版 / revision " << p.revision
            << ", " << publishedText(p).toStdString() << ")\n";
}

// Every hit of the search, appended; the playlist read again while others
// change it (an append overwrites nothing of theirs).
int add(library::SeasonLibrary& lib, const QString& name, const library::Query& query, double lead,
        double lag, const QString& note, std::ostream& out, std::ostream& err) {
    QString error;
    const std::vector<library::Hit> hits = lib.search(query, &error);
    if (!error.isEmpty())
        return failed(err, error);
    std::vector<PlaylistItem> items;
    for (const library::Hit& hit : hits)
        items.push_back(library::playlistItem(hit, lead, lag, note));
    library::PlaylistStore store(lib);
    for (int tries = 0; tries < kAddTries; ++tries) {
        const std::optional<Playlist> p = store.load(name, &error);
        if (!p)
            return failed(err, error.isEmpty() ? notFound(name) : error);
        if (items.empty())
            break;
        const PlaylistResult result = store.append(p->id, p->revision, items, &error);
        if (result == PlaylistResult::Done)
            break;
        if (result != PlaylistResult::Conflict || tries + 1 == kAddTries)
            return failed(err, error);
    }
    out << items.size() << " 件を加えました / added " << items.size() << "\n";
    return 0;
}

int run(library::SeasonLibrary& lib, const std::string& action, const QString& name,
        const QCommandLineParser& parser, const Options& o, const library::Query& query,
        double lead, double lag, std::ostream& out, std::ostream& err) {
    library::PlaylistStore store(lib);
    QString error;
    if (action == "add")
        return add(lib, name, query, lead, lag, parser.value(o.note), out, err);
    if (action == "list") {
        const std::vector<Playlist> all = store.list(&error);
        if (!error.isEmpty())
            return failed(err, error);
        printList(out, all);
        return 0;
    }
    if (action == "create") {
        if (store.create(name, &error) != PlaylistResult::Done)
            return failed(err, error);
        out << "作りました / created: " << name.trimmed().toStdString() << "\n";
        return 0;
    }
    const std::optional<Playlist> p = store.load(name, &error);
    if (!p)
        return failed(err, error.isEmpty() ? notFound(name) : error);
    if (action == "remove") {
        if (store.remove(p->id, p->revision, &error) != PlaylistResult::Done)
            return failed(err, error);
        out << "消しました / removed: " << name.toStdString() << "\n";
        return 0;
    }
    if (parser.isSet(o.search.json))
        printJson(out, *p);
    else
        printPlaylist(out, *p);
    return 0;
}

} // namespace

int runPlaylistCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty())
        return usage(err, "");
    QStringList words = {QStringLiteral("rucktag")};
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h" || args.front() == "help") {
            out << kUsage;
            return 0;
        }
        words << QString::fromStdString(arg);
    }
    QCommandLineParser parser;
    const Options o;
    const SearchOptions& s = o.search;
    parser.addOptions(
        {o.database, o.note, o.lead, o.lag, s.code, s.team, s.label, s.text, s.from, s.to, s.json});
    if (!parser.parse(words))
        return usage(err, "オプションを読めません / " + parser.errorText().toStdString());
    const QStringList positional = parser.positionalArguments();
    const std::string action = positional.isEmpty() ? "" : positional.front().toStdString();
    if (action != "create" && action != "add" && action != "show" && action != "list" &&
        action != "remove")
        return usage(err, "知らない操作です / unknown action: " + action);
    const qsizetype wanted = action == "list" ? 1 : 2;
    if (positional.size() < wanted)
        return usage(err, "プレイリストの名前を指定してください / name a playlist");
    if (positional.size() > wanted)
        return usage(err, "余分な引数があります / unexpected argument: " +
                              positional.at(wanted).toStdString());
    const QSet<QString> allowed = allowedFor(action);
    for (const QString& option : parser.optionNames())
        if (option != QLatin1String("database") && !allowed.contains(option))
            return usage(err, "この操作にないオプションです / not an option of " + action + ": --" +
                                  option.toStdString());
    library::Query query;
    double lead = kDefaultLead, lag = kDefaultLag;
    std::string why;
    if (action == "add" &&
        (!readQuery(parser, s, query, why) || !readSeconds(parser, o.lead, lead, why) ||
         !readSeconds(parser, o.lag, lag, why)))
        return usage(err, why);

    QString error;
    const QString target = parser.isSet(o.database) ? parser.value(o.database)
                                                    : library::SeasonLibrary::defaultDatabase();
    const std::unique_ptr<library::SeasonLibrary> lib =
        library::SeasonLibrary::open(target, &error);
    if (!lib)
        return failed(err, error);
    return run(*lib, action, wanted == 2 ? positional.at(1) : QString(), parser, o, query, lead,
               lag, out, err);
}
