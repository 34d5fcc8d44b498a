#include "commands/XmlCommand.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "SubModuleClass/TagFileManager.h"
#include "codewindow/CodeWindow.h"
#include "codewindow/CodeWindowFile.h"
#include "exchange/XmlEditList.h"
#include "journal/TagJournal.h"
#include "platform/AtomicFile.h"
#include "player/MediaProbe.h"
#include "review/Moments.h"

namespace {

constexpr const char* kUsage =
    "使い方 / Usage:\n"
    "  rucktag xml export SESSION.csv OUT.xml [--lead 秒] [--lag 秒] [--window 名前] [--force]\n"
    "    セッションファイルのタグを XML 編集リストに書き出します (前 8 秒・後 4 秒が既定)。\n"
    "    --window はコードの色と前後をそのコードウィンドウから取ります (既定は標準)。\n"
    "    Rucktag の書いた XML 編集リストでないファイルには、--force なしでは書きません。\n"
    "    Writes the session file's tags as an XML edit list (lead 8 s, lag 4 s by default);\n"
    "    --window takes the codes' colours, leads and lags from that code window (standard\n"
    "    by default). A file that is not an XML edit list Rucktag wrote is replaced only\n"
    "    with --force.\n"
    "  rucktag xml import IN.xml SESSION.csv [--team A|B]\n"
    "    XML 編集リストのインスタンスをセッションファイルに加えます (ないときは作ります)。\n"
    "    チームの分からないコードは --team で決めます。\n"
    "    Adds the edit list's instances to the session file (made when missing); --team\n"
    "    gives the team of codes whose team the file does not tell.\n"
    "    実行中の Rucktag が隣の動画を記録しているときは書き換えません。\n"
    "    The session file is left alone while a running Rucktag records the video beside it.\n";

struct Options {
    std::vector<std::string> files;
    double lead = kDefaultLead, lag = kDefaultLag;
    std::optional<bool> team;
    std::string window; // export: the code window's name
    bool force = false; // export: replace a file that is not ours
    std::string error;
};

bool readSeconds(const std::string& text, double& value) {
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && ptr == text.data() + text.size() && value >= 0.0 &&
           value <= kMaxLeadLag;
}

// Options may stand anywhere after the action, as "--lead 3" or "--lead=3";
// "--" ends them.
Options readOptions(const std::vector<std::string>& args, bool exporting) {
    Options o;
    bool optionsEnd = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnd || a.size() < 2 || a.rfind("--", 0) != 0) {
            o.files.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnd = true;
            continue;
        }
        if (exporting && a == "--force") {
            o.force = true;
            continue;
        }
        std::string name = a, value;
        bool hasValue = false;
        if (const size_t eq = a.find('='); eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
            hasValue = true;
        }
        const bool known = exporting ? (name == "--lead" || name == "--lag" || name == "--window")
                                     : name == "--team";
        if (!known) {
            o.error = "知らないオプションです / unknown option: " + a;
            return o;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                o.error = name + " に値がありません / " + name + " needs a value";
                return o;
            }
            value = args[++i];
        }
        if (name == "--window") {
            o.window = value;
        } else if (name == "--team") {
            if (value == "A" || value == "a")
                o.team = true;
            else if (value == "B" || value == "b")
                o.team = false;
            else
                o.error = "--team は A か B です / --team takes A or B: " + value;
        } else if (!readSeconds(value, name == "--lead" ? o.lead : o.lag)) {
            o.error = name + " は 0 から 60 までの秒数です / " + name +
                      " takes seconds from 0 to 60: " + value;
        }
        if (!o.error.empty())
            return o;
    }
    return o;
}

int usage(std::ostream& err, const std::string& why) {
    if (!why.empty())
        err << why << "\n";
    err << kUsage;
    return 2;
}

void tellRead(std::ostream& out, const EditList& list) {
    if (!list.unknownElements.empty()) {
        out << "知らない項目を読み飛ばしました / skipped unknown sections:";
        for (const std::string& name : list.unknownElements)
            out << " <" << name << ">";
        out << "\n";
    }
    for (const std::string& line : list.mended)
        out << "修正 / mended: " << line << "\n";
}

bool hasVideoExtension(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    for (const char* video : {".avi", ".mp4", ".mts", ".m2ts", ".mov", ".mkv", ".m4v", ".wmv",
                              ".mpg", ".mpeg", ".webm"})
        if (ext == video)
            return true;
    return false;
}

// Why the export must not replace `target` (empty when it may): a file that
// is there and is not an edit list this writer made is replaced only with
// --force; a video a running Rucktag records, or whose session file it is,
// never.
std::string targetRefusal(const std::string& target, bool force) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(target, ec);
    if (ec || !fs::exists(status))
        return {};
    if (!fs::is_regular_file(status))
        return "書き出し先が通常のファイルではありません / the output is not a regular file: " +
               target;
    const std::string recorded = hasVideoExtension(target) ? target : videoBesideSession(target);
    if (!recorded.empty() && TagJournal::heldElsewhere(recorded))
        return "書き出し先の動画は実行中の Rucktag で記録中です。書き出しませんでした / a running "
               "Rucktag records the video of the output; nothing was written: " +
               target;
    if (force)
        return {};
    // The writer's own start: an edit list it wrote begins so, byte for byte.
    static constexpr std::string_view kOurs =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<file>\n  <ALL_INSTANCES>\n";
    std::string head;
    if (std::ifstream in(target, std::ios::binary); in) {
        head.resize(std::max(kOurs.size(), TagFileManager::kHeader.size()));
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        head.resize(static_cast<size_t>(in.gcount()));
    }
    if (head.starts_with(kOurs))
        return {};
    const bool video = hasVideoExtension(target);
    const bool tags = head.starts_with(TagFileManager::kHeader) ||
                      head.starts_with("\xEF\xBB\xBF" + std::string(TagFileManager::kHeader));
    const std::string what = video  ? "動画です"
                             : tags ? "タグのCSVファイル (セッションファイル) です"
                                    : "Rucktag の書いた XML 編集リストではありません";
    const std::string english = video  ? "is a video"
                                : tags ? "is a tag CSV (a session file)"
                                       : "is not an XML edit list Rucktag wrote";
    return "書き出し先はすでにあり、" + what +
           "。置き換えるときは --force を付けてください / the output exists and " + english +
           "; add --force to replace it: " + target;
}

// The code window named `name` (the standard one by its name, else from the
// code window folder); null and `error` set when there is none.
std::optional<CodeWindow> namedWindow(const std::string& name, std::string& error) {
    if (name.empty() || name == CodeWindow::standard().name)
        return CodeWindow::standard();
    CodeWindowList list = listCodeWindows(codeWindowFolder());
    for (CodeWindow& window : list.windows)
        if (window.name == name)
            return std::move(window);
    error = "コードウィンドウ「" + name + "」がありません / no code window named " + name + " (" +
            codeWindowFolder().string() + ")";
    return std::nullopt;
}

int exportCommand(const Options& o, std::ostream& out, std::ostream& err) {
    const std::string& session = o.files[0];
    const std::string& target = o.files[1];
    std::error_code ec;
    if (!std::filesystem::exists(session, ec)) {
        err << "セッションファイルがありません / no such session file: " << session << "\n";
        return 1;
    }
    TagFileManager::LoadResult loaded = TagFileManager::readCSVFile(session);
    if (!loaded.error.empty()) {
        err << "セッションファイルを読めません / cannot read the session file: " << session << ": "
            << loaded.error << "\n";
        return 1;
    }
    if (loaded.headerMissing) {
        // An edit list or any other file given in the session's place.
        err << "セッションファイルではありません (1 行目がタグの見出しではありません) / not a "
               "session file (line 1 is no tag header): "
            << session << "\n";
        return 1;
    }
    std::string windowError;
    const std::optional<CodeWindow> window = namedWindow(o.window, windowError);
    if (!window) {
        err << windowError << "\n";
        return 1;
    }
    if (loaded.damaged())
        err << "セッションファイルの一部の行を読めませんでした。読めたタグを書き出します / some "
               "lines of the session file could not be read; the tags read are written\n";
    const std::string video = videoBesideSession(session);
    double length = INFINITY;
    if (!video.empty()) {
        const double probed = mediaLength(video);
        if (std::isfinite(probed))
            length = probed;
    }
    if (isSameFile(target, session) || (!video.empty() && isSameFile(target, video))) {
        err << "書き出し先がセッションファイルか動画と同じです / the output would replace the "
               "session file or the video: "
            << target << "\n";
        return 1;
    }
    if (const std::string refusal = targetRefusal(target, o.force); !refusal.empty()) {
        err << refusal << "\n";
        return 1;
    }
    MatchInfo match;
    std::string matchError;
    if (loadMatchFile(matchFilePathFor(session), match, matchError) == MatchFileState::Damaged)
        err << "試合ファイルを読めないため、期間は書き出しません / the match file could not be "
               "read; no periods are written: "
            << matchError << "\n";
    const std::string text = editListText(loaded.rows, o.lead, o.lag, length,
                                          o.window.empty() ? nullptr : &*window, &match);
    if (const std::string error = writeFileAtomically(target, text); !error.empty()) {
        err << "書き出せませんでした / cannot write: " << target << ": " << error << "\n";
        return 1;
    }
    out << loaded.rows.size() << " 件のタグを書き出しました / wrote " << loaded.rows.size()
        << " tags: " << target << "\n";
    if (video.empty())
        out << "セッションの横に動画がないため、0 秒より前だけを切りました / no video beside "
               "the session: moments clamped at 0 only\n";
    return 0;
}

// False (told) when a running window records the video: its save would
// later replace the merge. A journal a run left behind, holding tags the
// session file lacks, is told and the import goes on.
bool journalAllows(const std::string& video, std::ostream& err) {
    if (video.empty())
        return true;
    if (TagJournal::heldElsewhere(video)) {
        err << "この動画は実行中の Rucktag で記録中です。そのウィンドウの保存でこの読込が上書き"
               "されるため、セッションファイルを書き換えませんでした。そのウィンドウの XML読込 "
               "を使うか、ウィンドウを閉じてからやり直してください / a running Rucktag records "
               "this video and would later save over the merge; the session file was left as "
               "it is (use XML読込 in that window, or close it and try again): "
            << video << "\n";
        return false;
    }
    if (TagJournal::leftBehind(video))
        err << "この動画には、前回の Rucktag が保存せずに終わった変更が残っています。その変更は"
               "セッションファイルにありません。Rucktag でこの動画を開くと、復元できます / a "
               "run of Rucktag that ended without saving left changes to this video; they are "
               "not in the session file: open the video in Rucktag to restore them: "
            << video << "\n";
    return true;
}

// What a merge did.
struct Merged {
    size_t added = 0, skipped = 0;
    std::map<std::string, size_t> unresolved; // codes without a team, with their counts
};

// The imported tags appended to `rows` but those already there. Codes the
// file gives no team take `team`, else are left out and counted.
Merged merge(std::vector<ImportedTag>& tags, std::optional<bool> team,
             std::vector<std::shared_ptr<TagRowData>>& rows) {
    Merged m;
    std::vector<ImportedTag> settled;
    for (ImportedTag& t : tags) {
        if (!t.team) {
            if (!team) {
                ++m.unresolved[t.tag->name];
                continue;
            }
            t.team = team;
            t.tag->team = *team;
        }
        settled.push_back(std::move(t));
    }
    const std::vector<bool> duplicate = findDuplicates(rows, settled);
    int64_t next = 0;
    for (const auto& row : rows)
        next = std::max(next, row->index + 1);
    for (size_t i = 0; i < settled.size(); ++i) {
        if (duplicate[i]) {
            ++m.skipped;
            continue;
        }
        settled[i].tag->index = next++;
        rows.push_back(settled[i].tag);
        ++m.added;
    }
    return m;
}

void tellMerged(std::ostream& out, const std::string& session, const Merged& m) {
    out << m.added << " 件のタグを読み込みました / imported " << m.added << " tags: " << session
        << "\n";
    if (m.skipped > 0)
        out << "すでにある " << m.skipped << " 件を飛ばしました / skipped " << m.skipped
            << " already there\n";
    if (!m.unresolved.empty()) {
        out << "チームの分からないコードを読み込みませんでした (--team A か --team B "
               "で読み込めます) "
               "/ left out codes without a team (use --team A or --team B):";
        for (const auto& [code, count] : m.unresolved)
            out << " " << code << " (" << count << ")";
        out << "\n";
    }
}

// The file's periods go into the match file when it has none; periods
// already marked are never replaced, and a match file that cannot be read is
// left as it is.
int importPeriods(const std::filesystem::path& session, const std::vector<MatchPeriod>& periods,
                  std::ostream& out, std::ostream& err) {
    if (periods.empty())
        return 0;
    const std::filesystem::path file = matchFilePathFor(session);
    MatchInfo match;
    std::string error;
    if (loadMatchFile(file, match, error) == MatchFileState::Damaged) {
        err << "試合ファイルを読めないため、期間を書き込みませんでした / the match file could "
               "not be read and was left as it is: "
            << file.string() << ": " << error << "\n";
        return 1;
    }
    if (!match.periods.empty()) {
        if (match.periods != periods)
            out << "試合ファイルにすでに期間があるため、ファイルの期間は読み込みませんでした / "
                   "the match file has periods already; the file's were not taken\n";
        return 0;
    }
    match.periods = periods;
    if (const std::string failed = writeFileAtomically(file, matchJson(match)); !failed.empty()) {
        err << "試合ファイルを書けませんでした / cannot write the match file: " << file.string()
            << ": " << failed << "\n";
        return 1;
    }
    out << periods.size() << " 件の期間を読み込みました / read " << periods.size()
        << " periods: " << file.string() << "\n";
    return 0;
}

int importCommand(const Options& o, std::ostream& out, std::ostream& err) {
    const std::string& source = o.files[0];
    const std::string& session = o.files[1];
    if (isSameFile(source, session)) {
        err << "XML ファイルとセッションファイルが同じです / the XML file is the session file\n";
        return 1;
    }
    const EditList list = readEditListFile(source);
    if (!list.refused.empty()) {
        err << list.refused << " / the XML file was refused: " << source << "\n";
        return 1;
    }
    if (!list.isEditList) {
        err << "XML 編集リストではありません (ALL_INSTANCES がありません) / not an XML edit list "
               "(no ALL_INSTANCES): "
            << source << "\n";
        return 1;
    }
    tellRead(out, list);
    // Instances past the video's end are told when its length is known.
    const std::string video = videoBesideSession(session);
    const double length = video.empty() ? NAN : mediaLength(video);
    EditListTags read = tagsFromEditList(list, std::isfinite(length) ? length : INFINITY);
    for (const std::string& line : read.problems)
        out << line << "\n";
    if (!journalAllows(video, err))
        return 1;
    TagFileManager::LoadResult loaded = TagFileManager::readCSVFile(session);
    if (!loaded.error.empty() || loaded.damaged()) {
        err << "セッションファイルに読めないところがあるため、書き換えませんでした / the session "
               "file could not be read whole and was left as it is: "
            << session << (loaded.error.empty() ? "" : ": " + loaded.error) << "\n";
        return 1;
    }
    std::vector<std::shared_ptr<TagRowData>> rows = std::move(loaded.rows);
    const Merged merged = merge(read.tags, o.team, rows);
    std::error_code ec;
    if (merged.added > 0 || !std::filesystem::exists(session, ec)) {
        if (const std::string failed = TagFileManager::saveCSVFile(session, rows, true);
            !failed.empty()) {
            err << "セッションファイルを書けませんでした / cannot write the session file: "
                << session << ": " << failed << "\n";
            return 1;
        }
    }
    tellMerged(out, session, merged);
    return importPeriods(session, read.periods, out, err);
}

} // namespace

int runXmlCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty())
        return usage(err, "");
    const std::string& action = args[0];
    if (action == "--help" || action == "-h" || action == "help") {
        out << kUsage;
        return 0;
    }
    if (action != "export" && action != "import")
        return usage(err, "知らない操作です / unknown action: " + action);
    const Options o = readOptions(args, action == "export");
    if (!o.error.empty())
        return usage(err, o.error);
    if (o.files.size() != 2)
        return usage(err, "ファイルを二つ指定してください / name two files");
    return action == "export" ? exportCommand(o, out, err) : importCommand(o, out, err);
}
