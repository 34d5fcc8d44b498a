#include "commands/ReportCommand.h"

#include <QString>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "SubModuleClass/TagFileManager.h"
#include "codewindow/CodeWindowFile.h"
#include "commands/LibraryCommand.h"
#include "render/ReportFiles.h"
#include "report/LibraryReportTags.h"

namespace {

constexpr const char* kUsage =
    "使い方 / Usage:\n"
    "  rucktag report SESSION.csv OUT.pdf [--png DIR] [--html OUT.html] [--window FILE]\n"
    "    セッションファイルのタグから試合レポート (A4 の PDF) を作ります。試合ファイル\n"
    "    NAME.match.json があればチーム名と期間を使います。--png でページごとの画像を\n"
    "    DIR に、--html で 1 つの HTML ページを書き出します。--window のコードウィンドウ\n"
    "    (JSON ファイル) でコードの順を決め、続くコードのグループからポゼッションを出します。\n"
    "    Makes the match report (an A4 PDF) of a session file's tags, with the team names\n"
    "    and periods of its match file NAME.match.json when there is one; --png writes\n"
    "    each page as an image into DIR, --html one HTML page. --window takes a code\n"
    "    window's JSON file: its order of the codes, and possession from the exclusive\n"
    "    groups of its lasting codes.\n"
    "  rucktag report --library [--database URL] [--code NAME] [--team A|B]\n"
    "                 [--label GROUP=TEXT] [--text WORDS] [--from DATE] [--to DATE]\n"
    "                 OUT.pdf [--png DIR] [--html OUT.html] [--window FILE]\n"
    "    ライブラリの検索で見つかったタグ (いくつもの試合) のレポートです。\n"
    "    The report of the tags a library search finds (many matches).\n";

// The library search's options that take a value.
const std::set<std::string> kSearchValues = {"--database", "--code", "--team", "--label",
                                             "--text",     "--from", "--to"};

struct Options {
    bool library = false;
    std::vector<std::string> files;
    std::vector<std::string> search; // passed on to the library search
    std::string window;              // a code window's file, when given
    report::Targets targets;
};

int usage(std::ostream& err, const std::string& why) {
    err << why << "\n" << kUsage;
    return 2;
}

// Reads `args` into `o`; false with the reason in `why`.
bool readOptions(const std::vector<std::string>& args, Options& o, std::string& why) {
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i], value;
        const size_t equals = arg.find('=');
        const bool inlineValue = arg.rfind("--", 0) == 0 && equals != std::string::npos;
        if (inlineValue) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
        }
        const bool takesValue =
            arg == "--png" || arg == "--html" || arg == "--window" || kSearchValues.count(arg);
        if (takesValue && !inlineValue) {
            if (i + 1 >= args.size())
                return why = arg + " に値がありません / " + arg + " needs a value", false;
            value = args[++i];
        }
        if (arg == "--library")
            o.library = true;
        else if (arg == "--png")
            o.targets.pngDir = QString::fromStdString(value);
        else if (arg == "--html")
            o.targets.html = QString::fromStdString(value);
        else if (arg == "--window")
            o.window = value;
        else if (kSearchValues.count(arg))
            o.search.insert(o.search.end(), {arg, value});
        else if (arg.size() > 1 && arg[0] == '-')
            return why = "知らないオプションです / unknown option: " + args[i], false;
        else
            o.files.push_back(arg);
    }
    const size_t wanted = o.library ? 1 : 2;
    if (o.files.size() != wanted)
        return why = o.library ? "PDF を 1 つ指定してください / name one PDF"
                               : "セッションファイルと PDF を指定してください / name the session "
                                 "file and the PDF",
               false;
    if (!o.library && !o.search.empty())
        return why = "検索の条件は --library と使います / search options go with --library: " +
                     o.search.front(),
               false;
    o.targets.pdf = QString::fromStdString(o.files.back());
    return true;
}

// The match file beside the session, when there is one; false with the
// reason when it is there but cannot be read.
bool readMatch(const std::filesystem::path& session, MatchInfo& match, std::ostream& err) {
    const std::filesystem::path path = matchFilePathFor(session);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return true;
    std::ifstream in(path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    std::string error;
    if (!in.bad() && readMatchJson(text, match, error))
        return true;
    err << "試合ファイルを読めません / cannot read the match file: " << path.string() << ": "
        << error << "\n";
    return false;
}

int sessionTags(const std::string& session, std::vector<std::shared_ptr<TagRowData>>& tags,
                MatchInfo& match, std::ostream& err) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(session, ec)) {
        err << "セッションファイルがありません / no such session file: " << session << "\n";
        return 1;
    }
    TagFileManager::LoadResult loaded = TagFileManager::readCSVFile(session);
    if (!loaded.error.empty() || loaded.headerMissing) {
        err << "セッションファイルを読めません / cannot read the session file: " << session
            << (loaded.error.empty() ? "" : ": " + loaded.error) << "\n";
        return 1;
    }
    if (loaded.damaged())
        err << "セッションファイルの一部の行を読めませんでした。読めたタグで作ります / some lines "
               "of the session file could not be read; the report has the tags read\n";
    tags = std::move(loaded.rows);
    return readMatch(session, match, err) ? 0 : 1;
}

int libraryTags(const Options& o, library::ReportTags& found, std::ostream& err) {
    std::vector<library::Hit> hits;
    if (const int code = searchLibraryTags(o.search, hits, err); code != 0)
        return code == 2 ? usage(err, "") : code;
    found = library::reportTags(hits);
    for (size_t i = 0; i + 1 < o.search.size(); i += 2)
        if (o.search[i] != "--database")
            found.title += QStringLiteral(" %1 %2").arg(QString::fromStdString(o.search[i]),
                                                        QString::fromStdString(o.search[i + 1]));
    return 0;
}

} // namespace

int runReportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (std::find_if(args.begin(), args.end(), [](const std::string& a) {
            return a == "--help" || a == "-h";
        }) != args.end()) {
        out << kUsage;
        return 0;
    }
    Options o;
    if (std::string why; !readOptions(args, o, why))
        return usage(err, why);
    std::error_code ec;
    for (const QString& target : {o.targets.pdf, o.targets.html})
        if (!o.library && !target.isEmpty() &&
            std::filesystem::equivalent(o.files.front(), target.toStdString(), ec)) {
            err << "書き出し先がセッションファイルと同じです / the output would replace the "
                   "session file: "
                << target.toStdString() << "\n";
            return 1;
        }
    library::ReportTags found; // the session's, or those of the library's matches
    found.matches = 1;
    const int read = o.library ? libraryTags(o, found, err)
                               : sessionTags(o.files.front(), found.tags, found.match, err);
    if (read != 0)
        return read;
    if (!o.library)
        found.title =
            QString::fromStdString(std::filesystem::path(o.files.front()).filename().string());
    CodeWindowRead window;
    if (!o.window.empty()) {
        window = readCodeWindowFile(o.window);
        if (!window.ok()) {
            err << "コードウィンドウを読めません / cannot read the code window: "
                << window.problems.front() << "\n";
            return 1;
        }
    }
    const report::Document doc = report::reportDocument(
        library::reportFigures(found, o.window.empty() ? nullptr : &window.window), found.title);
    QString error;
    if (!report::writeReport(doc, o.targets, &error)) {
        err << error.toStdString() << "\n";
        return 1;
    }
    out << "試合レポートを書き出しました / report written: " << o.files.back() << "\n";
    return 0;
}
