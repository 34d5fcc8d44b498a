#include "XmlCommand.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <map>
#include <optional>

#include "Media/MediaProbe.h"
#include "Model/CodeWindow.h"
#include "SubModuleClass/AtomicFile.h"
#include "SubModuleClass/TagFileManager.h"
#include "SubModuleClass/TagJournal.h"
#include "SubModuleClass/XmlEditList.h"

namespace {

// The play screen's own defaults for 前 and 後.
constexpr double kDefaultLead = 8.0;
constexpr double kDefaultLag = 4.0;

constexpr const char* kUsage =
    "使い方 / Usage:\n"
    "  rucktag xml export SESSION.csv OUT.xml [--lead 秒] [--lag 秒]\n"
    "    セッションファイルのタグを XML 編集リストに書き出します (前 8 秒・後 4 秒が既定)。\n"
    "    Writes the session file's tags as an XML edit list (lead 8 s, lag 4 s by default).\n"
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
        std::string name = a, value;
        bool hasValue = false;
        if (const size_t eq = a.find('='); eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
            hasValue = true;
        }
        const bool known = exporting ? (name == "--lead" || name == "--lag") : name == "--team";
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
        if (name == "--team") {
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
    const std::string text = editListText(loaded.rows, o.lead, o.lag, length);
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

int importCommand(const Options& o, std::ostream& out, std::ostream& err) {
    const std::string& source = o.files[0];
    const std::string& session = o.files[1];
    std::string bytes, error;
    if (!readWholeFile(source, bytes, error)) {
        err << "XML ファイルを読めません / cannot read the XML file: " << error << "\n";
        return 1;
    }
    if (isSameFile(source, session)) {
        err << "XML ファイルとセッションファイルが同じです / the XML file is the session file\n";
        return 1;
    }
    const EditList list = readEditList(bytes);
    if (!list.isEditList) {
        err << "XML 編集リストではありません (ALL_INSTANCES がありません) / not an XML edit list "
               "(no ALL_INSTANCES): "
            << source << "\n";
        return 1;
    }
    tellRead(out, list);
    EditListTags read = tagsFromEditList(list);
    for (const std::string& line : read.problems)
        out << line << "\n";

    // A window recording the video would save its own tags over the merge
    // later; a journal a run left behind holds tags the session file lacks.
    const std::string video = videoBesideSession(session);
    if (!video.empty() && TagJournal::heldElsewhere(video)) {
        err << "この動画は実行中の Rucktag で記録中です。そのウィンドウの保存でこの読込が上書き"
               "されるため、セッションファイルを書き換えませんでした。そのウィンドウの XML読込 "
               "を使うか、ウィンドウを閉じてからやり直してください / a running Rucktag records "
               "this video and would later save over the merge; the session file was left as "
               "it is (use XML読込 in that window, or close it and try again): "
            << video << "\n";
        return 1;
    }
    if (!video.empty() && TagJournal::leftBehind(video))
        err << "この動画には、前回の Rucktag が保存せずに終わった変更が残っています。その変更は"
               "セッションファイルにありません。Rucktag でこの動画を開くと、復元できます / a "
               "run of Rucktag that ended without saving left changes to this video; they are "
               "not in the session file: open the video in Rucktag to restore them: "
            << video << "\n";

    TagFileManager::LoadResult loaded = TagFileManager::readCSVFile(session);
    if (!loaded.error.empty() || loaded.damaged()) {
        err << "セッションファイルに読めないところがあるため、書き換えませんでした / the session "
               "file could not be read whole and was left as it is: "
            << session << (loaded.error.empty() ? "" : ": " + loaded.error) << "\n";
        return 1;
    }

    // Codes the file gives no team: --team, else left out and named.
    std::map<std::string, size_t> unresolved;
    std::vector<ImportedTag> settled;
    for (ImportedTag& t : read.tags) {
        if (!t.team) {
            if (!o.team) {
                ++unresolved[t.tag->name];
                continue;
            }
            t.team = o.team;
            t.tag->team = *o.team;
        }
        settled.push_back(std::move(t));
    }
    const std::vector<bool> duplicate = findDuplicates(loaded.rows, settled);
    std::vector<std::shared_ptr<TagRowData>> rows = std::move(loaded.rows);
    int64_t next = 0;
    for (const auto& row : rows)
        next = std::max(next, row->index + 1);
    size_t added = 0, skipped = 0;
    for (size_t i = 0; i < settled.size(); ++i) {
        if (duplicate[i]) {
            ++skipped;
            continue;
        }
        settled[i].tag->index = next++;
        rows.push_back(settled[i].tag);
        ++added;
    }
    std::error_code ec;
    if (added > 0 || !std::filesystem::exists(session, ec)) {
        if (const std::string failed = TagFileManager::saveCSVFile(session, rows, true);
            !failed.empty()) {
            err << "セッションファイルを書けませんでした / cannot write the session file: "
                << session << ": " << failed << "\n";
            return 1;
        }
    }
    out << added << " 件のタグを読み込みました / imported " << added << " tags: " << session
        << "\n";
    if (skipped > 0)
        out << "すでにある " << skipped << " 件を飛ばしました / skipped " << skipped
            << " already there\n";
    if (!unresolved.empty()) {
        out << "チームの分からないコードを読み込みませんでした (--team A か --team B "
               "で読み込めます) "
               "/ left out codes without a team (use --team A or --team B):";
        for (const auto& [code, count] : unresolved)
            out << " " << code << " (" << count << ")";
        out << "\n";
    }
    return 0;
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
