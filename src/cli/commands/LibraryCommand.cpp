#include "commands/LibraryCommand.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <algorithm>

#include "SubModuleClass/TagFileManager.h"
#include "index/LibraryFiles.h"
#include "index/SeasonLibrary.h"
#include "text/TimeText.h"

namespace {

constexpr const char* kUsage =
    "使い方 / Usage:\n"
    "  rucktag library [--database URL] add FOLDER...\n"
    "    フォルダー (下のフォルダーも) のセッションファイルをライブラリに加えます。\n"
    "    Adds the session files in the folders (and their subfolders) to the library.\n"
    "  rucktag library scan [--database URL]\n"
    "    加えたフォルダーを読み直し、変わったセッションファイルだけを読み込みます。\n"
    "    Reads the added folders again; only changed session files are re-read.\n"
    "  rucktag library search [--code NAME] [--team A|B] [--label GROUP=TEXT]\n"
    "                         [--text WORDS] [--from DATE] [--to DATE] [--json]\n"
    "    タグを探します。--json で 1 行に 1 つの JSON を出します。グループの = は \\= と\n"
    "    書きます。言葉は 32 語まで、日付は YYYY-MM-DD です。\n"
    "    Finds tags; --json prints one JSON object per line. An = in GROUP is written\n"
    "    \\=; at most 32 words; dates are YYYY-MM-DD.\n"
    "  --database URL  SQLite のファイルか postgresql://ホスト/データベース?user=ユーザー\n"
    "                  (既定は環境変数 RUCKTAG_LIBRARY、なければ\n"
    "                  $XDG_DATA_HOME/rucktag/library.sqlite)。\n"
    "                  A SQLite file or a postgresql:// URL (default: RUCKTAG_LIBRARY, else\n"
    "                  $XDG_DATA_HOME/rucktag/library.sqlite).\n";

int usage(std::ostream& err, const std::string& why) {
    if (!why.empty())
        err << why << "\n";
    err << kUsage;
    return 2;
}

void tellReport(std::ostream& out, const library::ScanReport& r) {
    out << "追加 " << r.added << "・更新 " << r.updated << "・変更なし " << r.unchanged << "・削除 "
        << r.removed << " / added " << r.added << ", updated " << r.updated << ", unchanged "
        << r.unchanged << ", removed " << r.removed << "\n";
    for (const auto& [path, why] : r.skipped)
        out << "読み飛ばし / skipped: " << path << ": " << why.toStdString() << "\n";
}

std::string timeText(double seconds) {
    const std::string whole = createTimeString(static_cast<float>(seconds));
    return whole;
}

// Columns as a terminal shows them: wide (East Asian) characters take two.
int displayWidth(const QString& text) {
    int width = 0;
    for (const uint c : text.toUcs4()) {
        const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                          (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                          (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                          (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) ||
                          (c >= 0x20000 && c <= 0x3FFFD);
        width += wide ? 2 : 1;
    }
    return width;
}

// The name of a hit's team, "-" while its match names none.
QString teamName(const library::Hit& h) {
    const QString& name = h.teams[h.teamA ? 0 : 1];
    return name.isEmpty() ? QStringLiteral("-") : name;
}

void printTable(std::ostream& out, const std::vector<library::Hit>& hits) {
    std::vector<QStringList> rows;
    rows.push_back({QStringLiteral("日付"), QStringLiteral("試合"), QStringLiteral("時刻"),
                    QStringLiteral("チーム"), QStringLiteral("コード"), QStringLiteral("ラベル"),
                    QStringLiteral("コメント"), QStringLiteral("試合時間"),
                    QStringLiteral("チーム名")});
    for (const library::Hit& h : hits) {
        QString time = QString::fromStdString(timeText(h.time));
        if (h.end)
            time += QStringLiteral("–") + QString::fromStdString(timeText(*h.end));
        QStringList labels;
        for (const auto& [group, text] : h.labels)
            labels << QString::fromStdString(group) + QLatin1Char('=') +
                          QString::fromStdString(text);
        QString comment = QString::fromStdString(h.comment);
        comment.replace(QLatin1Char('\n'), QLatin1Char(' '));
        const QString title =
            h.unreadable.isEmpty() ? h.title : h.title + QStringLiteral(" (今は読めません)");
        rows.push_back({h.date.isEmpty() ? QStringLiteral("-") : h.date, title, time,
                        h.teamA ? QStringLiteral("A") : QStringLiteral("B"),
                        QString::fromStdString(h.code), labels.join(QStringLiteral(", ")), comment,
                        h.matchTime, teamName(h)});
    }
    std::vector<int> widths(rows.front().size(), 0);
    for (const QStringList& row : rows)
        for (qsizetype i = 0; i + 1 < row.size(); ++i)
            widths[i] = std::max(widths[i], displayWidth(row[i]));
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size())
                line += QString(widths[i] - displayWidth(row[i]) + 2, QLatin1Char(' '));
        }
        out << line.trimmed().toStdString() << "\n";
    }
    out << hits.size() << " 件\n";
}

void printJson(std::ostream& out, const std::vector<library::Hit>& hits) {
    for (const library::Hit& h : hits) {
        QJsonObject labels;
        for (const auto& [group, text] : h.labels)
            labels.insert(QString::fromStdString(group), QString::fromStdString(text));
        QJsonObject o;
        o.insert(QStringLiteral("video"), QString::fromStdString(h.video));
        o.insert(QStringLiteral("session"), QString::fromStdString(h.session));
        o.insert(QStringLiteral("time"), h.time);
        o.insert(QStringLiteral("end"), h.end ? QJsonValue(*h.end) : QJsonValue(QJsonValue::Null));
        o.insert(QStringLiteral("team"), h.teamA ? QStringLiteral("A") : QStringLiteral("B"));
        o.insert(QStringLiteral("code"), QString::fromStdString(h.code));
        o.insert(QStringLiteral("labels"), labels);
        o.insert(QStringLiteral("comment"), QString::fromStdString(h.comment));
        if (!h.unreadable.isEmpty())
            o.insert(QStringLiteral("unreadable"), h.unreadable);
        o.insert(QStringLiteral("matchTime"), h.matchTime);
        o.insert(QStringLiteral("teams"), QJsonArray{h.teams[0], h.teams[1]});
        if (!h.matchProblem.isEmpty())
            o.insert(QStringLiteral("matchProblem"), h.matchProblem);
        out << QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString() << "\n";
    }
}

// The action is the first word that is no option nor an option's value, so
// options may come before it too (`library --database URL add DIR`).
std::vector<std::string> actionFirst(const std::vector<std::string>& args) {
    static const std::vector<std::string> withValue = {"--database", "--code", "--team", "--label",
                                                       "--text",     "--from", "--to"};
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--")
            break;
        if (a.rfind("-", 0) != 0) {
            std::vector<std::string> ordered = {a};
            for (size_t j = 0; j < args.size(); ++j)
                if (j != i)
                    ordered.push_back(args[j]);
            return ordered;
        }
        if (std::find(withValue.begin(), withValue.end(), a) != withValue.end())
            ++i;
    }
    return args;
}

} // namespace

bool readQuery(const QCommandLineParser& parser, const SearchOptions& o, library::Query& query,
               std::string& why) {
    query.code = parser.value(o.code).toStdString();
    if (parser.isSet(o.team)) {
        const QString t = parser.value(o.team).toUpper();
        if (t != QLatin1String("A") && t != QLatin1String("B")) {
            why = "--team は A か B です / --team takes A or B: " +
                  parser.value(o.team).toStdString();
            return false;
        }
        query.teamA = t == QLatin1String("A");
    }
    for (const QString& pair : parser.values(o.label)) {
        // As the session file writes labels: "\=" is an = in the group.
        TagLabels one;
        if (!TagFileManager::readLabelsText(pair.toStdString(), one) || one.size() != 1) {
            why = "--label は グループ=テキスト です (グループの = は \\= と書きます) "
                  "/ --label takes GROUP=TEXT (an = in GROUP as \\=): " +
                  pair.toStdString();
            return false;
        }
        query.labels.push_back(one.front());
    }
    query.text = parser.values(o.text).join(QLatin1Char(' ')).toStdString();
    if (library::searchWords(query.text).size() > library::kMaxSearchWords) {
        why = library::tooManyWordsText().toStdString();
        return false;
    }
    for (const auto& [option, into] :
         {std::pair{&o.from, &query.dateFrom}, {&o.to, &query.dateTo}}) {
        *into = parser.value(*option);
        if (!library::isDateText(*into)) {
            why = "日付は 2026-04-12 の形で、ある日を書いてください / dates are real "
                  "days written YYYY-MM-DD: " +
                  into->toStdString();
            return false;
        }
    }
    return true;
}

namespace {

// A search only reads: a library on a read-only medium or of another user
// can be searched too (an older one is brought up to date where it can be
// written).
std::unique_ptr<library::SeasonLibrary> openFor(const std::string& action, const QString& target,
                                                QString& error) {
    std::unique_ptr<library::SeasonLibrary> lib;
    if (action == "search" && !library::isPostgresUrl(target) && QFileInfo(target).isFile())
        lib =
            library::SeasonLibrary::open(target, &error, library::SeasonLibrary::Access::ReadOnly);
    if (!lib && (error.isEmpty() || QFileInfo(target).isWritable()))
        lib = library::SeasonLibrary::open(target, &error);
    return lib;
}

int search(library::SeasonLibrary& lib, const library::Query& query, bool json, std::ostream& out,
           std::ostream& err) {
    QString error;
    const std::vector<library::Hit> hits = lib.search(query, &error);
    if (!error.isEmpty()) {
        err << error.toStdString() << "\n";
        return 1;
    }
    if (hits.empty())
        return 0;
    if (json)
        printJson(out, hits);
    else
        printTable(out, hits);
    return 0;
}

} // namespace

int searchLibraryTags(const std::vector<std::string>& args, std::vector<library::Hit>& hits,
                      std::ostream& err) {
    QCommandLineParser parser;
    const QCommandLineOption database(QStringLiteral("database"), QString(), QStringLiteral("URL"));
    const SearchOptions o;
    parser.addOptions({database, o.code, o.team, o.label, o.text, o.from, o.to});
    QStringList words = {QStringLiteral("rucktag")};
    for (const std::string& arg : args)
        words << QString::fromStdString(arg);
    if (!parser.parse(words)) {
        err << "オプションを読めません / " << parser.errorText().toStdString() << "\n";
        return 2;
    }
    library::Query query;
    if (std::string why; !readQuery(parser, o, query, why)) {
        err << why << "\n";
        return 2;
    }
    QString error;
    const QString target =
        parser.isSet(database) ? parser.value(database) : library::SeasonLibrary::defaultDatabase();
    const std::unique_ptr<library::SeasonLibrary> lib = openFor("search", target, error);
    if (lib)
        hits = lib->search(query, &error);
    if (!lib || !error.isEmpty()) {
        err << error.toStdString() << "\n";
        return 1;
    }
    return 0;
}

int runLibraryCommand(const std::vector<std::string>& given, std::ostream& out, std::ostream& err) {
    if (given.empty())
        return usage(err, "");
    const std::vector<std::string> args = actionFirst(given);
    const std::string& action = args[0];
    if (action == "--help" || action == "-h" || action == "help") {
        out << kUsage;
        return 0;
    }
    if (action != "add" && action != "scan" && action != "search")
        return usage(err, "知らない操作です / unknown action: " + action);

    QCommandLineParser parser;
    const QCommandLineOption database(QStringLiteral("database"), QString(), QStringLiteral("URL"));
    const SearchOptions o;
    parser.addOptions({database});
    if (action == "search")
        parser.addOptions({o.code, o.team, o.label, o.text, o.from, o.to, o.json});
    QStringList words = {QStringLiteral("rucktag")};
    for (size_t i = 1; i < args.size(); ++i)
        words << QString::fromStdString(args[i]);
    if (!parser.parse(words))
        return usage(err, "オプションを読めません / " + parser.errorText().toStdString());
    const QStringList positional = parser.positionalArguments();
    if (action == "add" && positional.isEmpty())
        return usage(err, "フォルダーを指定してください / name a folder");
    if (action != "add" && !positional.isEmpty())
        return usage(err, "余分な引数があります / unexpected argument: " +
                              positional.front().toStdString());
    library::Query query;
    if (std::string why; action == "search" && !readQuery(parser, o, query, why))
        return usage(err, why);

    QString error;
    const QString target =
        parser.isSet(database) ? parser.value(database) : library::SeasonLibrary::defaultDatabase();
    const std::unique_ptr<library::SeasonLibrary> lib = openFor(action, target, error);
    if (!lib) {
        err << error.toStdString() << "\n";
        return 1;
    }
    if (action == "search")
        return search(*lib, query, parser.isSet(o.json), out, err);
    error.clear();
    library::ScanReport report;
    const bool done =
        action == "add" ? lib->addFolders(positional, report, &error) : lib->scan(report, &error);
    if (!done) {
        err << error.toStdString() << "\n";
        return 1;
    }
    tellReport(out, report);
    return 0;
}
