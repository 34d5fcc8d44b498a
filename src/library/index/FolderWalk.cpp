#include "index/FolderWalk.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "SubModuleClass/TagFileManager.h"

namespace library {

namespace fs = std::filesystem;

namespace {

bool isVideoName(const std::string& name) {
    std::string ext = fs::path(name).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".avi" || ext == ".mp4" || ext == ".mts" || ext == ".m2ts";
}

bool isSessionName(const std::string& name) {
    return name.size() >= 4 && name.compare(name.size() - 4, 4, ".csv") == 0;
}

bool startsWithSessionHeader(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::getline(in, line);
    if (line.rfind("\xEF\xBB\xBF", 0) == 0)
        line.erase(0, 3);
    return line.rfind(std::string(TagFileManager::kHeader), 0) == 0;
}

// Our own CSV export (a header naming the extras, or lines of five fields),
// which is no session file however alike it begins.
bool isExportFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string head(64 * 1024, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    if (head.rfind("\xEF\xBB\xBF", 0) == 0)
        head.erase(0, 3);
    const size_t eol = head.find('\n');
    if (eol == std::string::npos)
        return false;
    std::string header = head.substr(0, eol);
    if (!header.empty() && header.back() == '\r')
        header.pop_back();
    if (header == std::string(TagFileManager::kHeader) + std::string(TagFileManager::kExtraHeader))
        return true;
    // The first line's fields, quotes (and the line ends inside them) kept.
    int fields = 1;
    bool quoted = false;
    for (size_t i = eol + 1; i < head.size(); ++i) {
        const char c = head[i];
        if (c == '"')
            quoted = !quoted;
        else if (c == ',' && !quoted)
            ++fields;
        else if (c == '\n' && !quoted)
            return fields == 5;
    }
    return false;
}

QString errnoText(int code) {
    switch (code) {
    case EACCES:
    case EPERM:
        return QStringLiteral("読む権限がありません");
    case ENOENT:
        return QStringLiteral("見つかりません");
    case ELOOP:
        return QStringLiteral("リンクが輪になっています");
    case EIO:
        return QStringLiteral("読み出しのエラーです (ディスクかドライブを確かめてください)");
    case ENOTCONN:
    case ESTALE:
    case EHOSTDOWN:
        return QStringLiteral("つながっていないドライブです");
    default:
        return QStringLiteral("読めません (エラー番号 %1)").arg(code);
    }
}

struct Dir {
    std::string path;
    bool viaLink = false;
};

// One walk's reading of the folders, each file name by its folder.
class Walker {
public:
    Walker(Walk& w, ScanReport& report) : w_(w), report_(report) {}

    void readAll(const std::vector<std::string>& roots) {
        std::vector<Dir> todo;
        for (auto root = roots.rbegin(); root != roots.rend(); ++root) {
            std::error_code ec;
            if (!fs::is_directory(*root, ec))
                cannot(*root, QStringLiteral("フォルダーが見つかりません"));
            else
                todo.push_back({*root, false});
        }
        while (!todo.empty()) {
            const Dir dir = std::move(todo.back());
            todo.pop_back();
            std::vector<Dir> below;
            if (enter(dir))
                read(dir.path, below);
            todo.insert(todo.end(), below.rbegin(), below.rend());
        }
    }

    // The session-path rule, from the video's side: VIDEO.csv.
    void pair() {
        std::set<std::string> canonicals;
        for (auto& [folder, names] : byFolder_) {
            std::sort(names.begin(), names.end());
            std::map<std::string, std::string> videoOf;
            for (const std::string& name : names)
                if (isVideoName(name))
                    videoOf.emplace(fs::path(TagFileManager::sessionFilePath(name)).string(), name);
            for (const std::string& name : names) {
                if (!isSessionName(name))
                    continue;
                const std::string session = (fs::path(folder) / name).string();
                const auto video = videoOf.find(name);
                if (video == videoOf.end()) {
                    // Other CSV files (exports, tallies) are no concern of ours.
                    if (startsWithSessionHeader(session) && !isExportFile(session))
                        report_.skipped.emplace_back(
                            session, QStringLiteral("同じ名前の動画 (avi, mp4, mts, m2ts) "
                                                    "が横にありません"));
                    continue;
                }
                Found f;
                f.video = (fs::path(folder) / video->second).string();
                f.session = session;
                f.canonical = canonicalOf(f.video);
                if (canonicals.insert(f.canonical).second)
                    w_.found.push_back(std::move(f));
            }
        }
    }

private:
    void cannot(const std::string& path, const QString& why) {
        report_.skipped.emplace_back(path, why);
        w_.unreadable.emplace(path, why);
    }

    // Whether `dir` is to be read: not yet read (through another link).
    bool enter(const Dir& dir) {
        struct stat st {};
        if (::stat(dir.path.c_str(), &st) != 0) {
            cannot(dir.path, QStringLiteral("フォルダーを読めません: ") + errnoText(errno));
            return false;
        }
        if (visited_.insert({st.st_dev, st.st_ino}).second)
            return true;
        if (dir.viaLink)
            report_.skipped.emplace_back(
                dir.path, QStringLiteral("読んだフォルダーへのリンクなので、もう一度は"
                                         "読みません (輪になったリンクかもしれません)"));
        return false;
    }

    void read(const std::string& folder, std::vector<Dir>& below) {
        std::vector<std::string>& names = byFolder_[folder];
        std::error_code ec;
        fs::directory_iterator it(folder, ec), end;
        for (; !ec && it != end; it.increment(ec))
            entry(*it, names, below);
        if (ec)
            cannot(folder, QStringLiteral("フォルダーを読めません: ") + errnoText(ec.value()));
        else
            w_.listed.insert(folder);
    }

    void entry(const fs::directory_entry& e, std::vector<std::string>& names,
               std::vector<Dir>& below) {
        const fs::path& path = e.path();
        const std::string name = path.filename().string();
        std::error_code linkError, typeError;
        const bool link = e.is_symlink(linkError);
        const fs::file_status target = fs::status(path, typeError);
        switch (target.type()) {
        case fs::file_type::directory:
            below.push_back({path.string(), link});
            break;
        case fs::file_type::regular:
            names.push_back(name);
            break;
        case fs::file_type::not_found:
            if (link)
                cannot(path.string(), QStringLiteral("リンク先が見つかりません (つながっていない"
                                                     "ドライブかもしれません)"));
            break;
        case fs::file_type::none:
        case fs::file_type::unknown:
            cannot(path.string(), QStringLiteral("読めません: ") + errnoText(typeError.value()));
            break;
        default: // FIFO, socket, device: never opened
            if (isSessionName(name) || isVideoName(name))
                report_.skipped.emplace_back(path.string(),
                                             QStringLiteral("普通のファイルではないので開きません "
                                                            "(FIFO・ソケット・デバイス)"));
            break;
        }
    }

    Walk& w_;
    ScanReport& report_;
    std::map<std::string, std::vector<std::string>> byFolder_;
    std::set<std::pair<dev_t, ino_t>> visited_;
};

} // namespace

void walkFolders(const std::vector<std::string>& roots, Walk& w, ScanReport& report) {
    Walker walker(w, report);
    walker.readAll(roots);
    walker.pair();
}

bool isUnder(const std::string& path, const std::string& folder) {
    if (folder == "/")
        return path.size() > 1 && path[0] == '/';
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

std::string canonicalOf(const std::string& path) {
    std::error_code ec;
    const fs::path c = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? fs::absolute(path).lexically_normal().string() : c.string();
}

} // namespace library
