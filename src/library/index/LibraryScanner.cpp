#include "index/LibraryScanner.h"

#include <QSqlQuery>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <sys/stat.h>

#include "SubModuleClass/TagFileManager.h"

namespace library {

namespace fs = std::filesystem;

namespace {

QString lineList(const std::vector<size_t>& lines, const QString& what = QStringLiteral("行")) {
    QStringList parts;
    for (size_t i = 0; i < lines.size() && i < 5; ++i)
        parts << QString::number(lines[i]);
    if (lines.size() > 5)
        parts << QStringLiteral("…");
    return QStringLiteral(" (") + what + QLatin1Char(' ') + parts.join(QStringLiteral(", ")) +
           QLatin1Char(')');
}

// Why a session file is not indexed; empty when it can be.
QString damageReason(const TagFileManager::LoadResult& r) {
    if (!r.error.empty())
        return QStringLiteral("読めません: ") + QString::fromStdString(r.error);
    QStringList why;
    if (r.headerMissing)
        why << QStringLiteral("1 行目に見出しがありません");
    if (!r.shortRows.empty())
        why << QStringLiteral("項目の足りない行があります") + lineList(r.shortRows);
    if (!r.longRows.empty())
        why << QStringLiteral("項目の多すぎる行があります") + lineList(r.longRows);
    if (!r.unreadableTimes.empty())
        why << QStringLiteral("時刻を読めない行があります") + lineList(r.unreadableTimes);
    if (!r.unreadableExtras.empty())
        why << QStringLiteral("終了時刻かラベルを読めない行があります") +
                   lineList(r.unreadableExtras);
    if (!r.badTimes.empty())
        why << QStringLiteral("負か無限大か数でない時刻、または開始より前の終了時刻があります") +
                   lineList(r.badTimes);
    if (!r.unclosedQuotes.empty())
        why << QStringLiteral("閉じていない引用符があります") + lineList(r.unclosedQuotes);
    if (why.isEmpty())
        return unindexableTimes(r.rows);
    return QStringLiteral("壊れたセッションファイルです: ") + why.join(QStringLiteral("、"));
}

// Why a match the walk did not find under a folder it went through is kept:
// its files cannot be read now (no permission, a drive not mounted, a file
// that cannot be opened). Empty when it is gone.
QString whyUnseen(const Stored& s, const Walk& w) {
    QString why;
    for (const std::string& path : {s.session, s.video})
        if (const auto it = w.unreadable.find(path); it != w.unreadable.end())
            why = it->second;
    const std::string folder = fs::path(s.session).parent_path().string();
    if (why.isEmpty() && !w.listed.count(folder)) {
        why = QStringLiteral("フォルダーを読めません: ") + QString::fromStdString(folder);
        for (const auto& [path, reason] : w.unreadable)
            if (folder == path || isUnder(folder, path))
                why = reason + QStringLiteral(": ") + QString::fromStdString(path);
    }
    // Its folder is there but on another file system than the file was: a
    // drive not mounted leaves its empty mount point.
    if (struct stat st{}; why.isEmpty() && s.sessionStamp.device != 0 &&
                          ::stat(folder.c_str(), &st) == 0 &&
                          static_cast<int64_t>(st.st_dev) != s.sessionStamp.device)
        why = QStringLiteral("フォルダーが索引を作ったときと別のドライブにあります "
                             "(ドライブがつながっていないかもしれません): ") +
              QString::fromStdString(folder);
    return why;
}

} // namespace

QString unindexableTimes(const std::vector<std::shared_ptr<TagRowData>>& rows) {
    const auto wrong = [](float v) { return !std::isfinite(v) || v < 0; };
    std::vector<size_t> bad;
    for (size_t i = 0; i < rows.size(); ++i)
        if (wrong(rows[i]->time_val) || (rows[i]->end.isSet() && wrong(rows[i]->end.time)))
            bad.push_back(i + 1);
    if (bad.empty())
        return {};
    return QStringLiteral("時刻が数でないか負のタグがあります") +
           lineList(bad, QStringLiteral("タグ"));
}

bool Scanner::scan(const std::vector<std::string>& roots, ScanReport& report, QString* error) {
    report_ = &report;
    error_ = error;
    Walk w;
    walkFolders(roots, w, report);
    std::vector<Stored> stored;
    if (!index_.loadStored(stored, error))
        return c_.fail(error);
    std::map<std::string, size_t> byCanonical;
    for (size_t i = 0; i < stored.size(); ++i)
        byCanonical[stored[i].canonical] = i;
    std::vector<Found> fresh;
    for (const Found& f : w.found) {
        const auto at = byCanonical.find(f.canonical);
        if (at == byCanonical.end()) {
            fresh.push_back(f);
            continue;
        }
        Stored& s = stored[at->second];
        s.seen = true;
        if (!revisit(f, s))
            return false;
    }
    for (const Found& f : fresh)
        if (!add(f, stored))
            return false;
    for (Stored& s : stored)
        if (!s.seen && !settleUnseen(s, roots, w))
            return false;
    // Fresh statistics after many rows, or the planner guesses.
    if (report.added + report.updated + report.removed > 0) {
        QSqlQuery stats(c_.db());
        stats.exec(c_.dialect().statisticsSql());
    }
    return true;
}

// A match the walk found again: unchanged, touched, changed or unreadable.
bool Scanner::revisit(const Found& f, Stored& s) {
    const std::optional<FileStamp> sessionStamp = fileStamp(f.session);
    const std::optional<FileStamp> videoStamp = fileStamp(f.video);
    if (!sessionStamp || !videoStamp)
        return marked(s, QStringLiteral("ファイルの情報を読めません"));
    const bool sameVideo =
        videoStamp->size == s.videoStamp.size && videoStamp->mtime == s.videoStamp.mtime;
    const FileStamp matchStamp = matchFileStamp(f.session);
    if (f.session == s.session && f.video == s.video && sameVideo &&
        sessionStamp->size == s.sessionStamp.size && sessionStamp->mtime == s.sessionStamp.mtime &&
        matchStamp.size == s.matchStamp.size && matchStamp.mtime == s.matchStamp.mtime) {
        if ((!s.unreadable.isEmpty() || s.sessionStamp.device != sessionStamp->device) &&
            !(mark(s, QString(), sessionStamp->device) || skipOrStop(s.session)))
            return false;
        ++report_->unchanged;
        return true;
    }
    Record r{f.video,
             f.session,
             f.canonical,
             *videoStamp,
             *sessionStamp,
             s.identity,
             contentHash(f.session),
             readMatchFacts(f.session)};
    if (!sameVideo)
        r.identity = videoIdentity(f.video);
    if (r.sessionHash.isEmpty() || r.identity.isEmpty())
        return marked(s, r.sessionHash.isEmpty() ? QStringLiteral("セッションファイルを読めません")
                                                 : QStringLiteral("動画を読めません"));
    if (r.sessionHash == s.sessionHash) {
        // Touched, not changed: the stamps are noted, the tags stay. A match
        // file changed alone is one row written.
        qint64 id = s.id;
        if (!index_.store(id, r, nullptr, error_))
            return skipOrStop(f.session);
        const bool matchChanged = r.match.hash != s.matchHash;
        ++(matchChanged ? report_->updated : report_->unchanged);
        if (matchChanged)
            tellMatchProblem(f.session, r.match);
        return true;
    }
    return reread(f, s, r);
}

// A known session file whose bytes changed: its tags read again, or the
// match forgotten when the file is damaged now.
bool Scanner::reread(const Found& f, Stored& s, const Record& r) {
    TagFileManager::LoadResult loaded = TagFileManager::readCSVFile(f.session);
    if (!loaded.error.empty())
        return marked(s, QStringLiteral("読めません: ") + QString::fromStdString(loaded.error));
    if (const QString why = damageReason(loaded); !why.isEmpty()) {
        report_->skipped.emplace_back(f.session, why);
        if (!index_.forget(s.id, error_))
            return skipOrStop(f.session);
        ++report_->removed;
        return true;
    }
    qint64 id = s.id;
    if (!index_.store(id, r, &loaded.rows, error_))
        return skipOrStop(f.session);
    ++report_->updated;
    if (r.match.hash != s.matchHash)
        tellMatchProblem(f.session, r.match);
    return true;
}

// A session file new to the index, or beside a video that moved.
bool Scanner::add(const Found& f, std::vector<Stored>& stored) {
    const std::optional<FileStamp> sessionStamp = fileStamp(f.session);
    const std::optional<FileStamp> videoStamp = fileStamp(f.video);
    if (!sessionStamp || !videoStamp) {
        report_->skipped.emplace_back(f.session, QStringLiteral("読めません"));
        return true;
    }
    TagFileManager::LoadResult loaded = TagFileManager::readCSVFile(f.session);
    if (const QString why = damageReason(loaded); !why.isEmpty()) {
        report_->skipped.emplace_back(f.session, why);
        return true;
    }
    Record r{f.video,
             f.session,
             f.canonical,
             *videoStamp,
             *sessionStamp,
             videoIdentity(f.video),
             contentHash(f.session),
             readMatchFacts(f.session)};
    if (r.identity.isEmpty()) {
        report_->skipped.emplace_back(f.session, QStringLiteral("動画を読めません: ") +
                                                     QString::fromStdString(f.video));
        return true;
    }
    // A video moved or renamed: the match whose video is gone and whose
    // identity it has.
    qint64 id = 0;
    for (Stored& s : stored) {
        std::error_code ec;
        if (!s.seen && s.identity == r.identity && !fs::exists(s.video, ec)) {
            s.seen = true;
            id = s.id;
            break;
        }
    }
    const bool moved = id != 0;
    if (!index_.store(id, r, &loaded.rows, error_))
        return skipOrStop(f.session);
    ++(moved ? report_->updated : report_->added);
    tellMatchProblem(f.session, r.match);
    return true;
}

// Gone from a folder that was read whole: forgotten. One that could not be
// read now keeps its match, marked.
bool Scanner::settleUnseen(Stored& s, const std::vector<std::string>& roots, const Walk& w) {
    const bool walked = std::any_of(roots.begin(), roots.end(), [&](const std::string& root) {
        return isUnder(s.session, root);
    });
    if (!walked)
        return true;
    if (const QString why = whyUnseen(s, w); !why.isEmpty())
        return marked(s, why);
    if (!index_.forget(s.id, error_))
        return skipOrStop(s.session);
    ++report_->removed;
    return true;
}

// A match whose files cannot be read now keeps its tags and edits, and says
// why until they can be read again.
bool Scanner::mark(Stored& s, const QString& why, int64_t device) {
    if (!why.isEmpty())
        report_->skipped.emplace_back(
            s.session, QStringLiteral("今は読めないので、前の索引のまま残します: ") + why);
    if (device == 0)
        device = s.sessionStamp.device;
    if (s.unreadable == why && s.sessionStamp.device == device)
        return true;
    if (!index_.markUnreadable(s.id, why, device, error_))
        return false;
    s.unreadable = why;
    s.sessionStamp.device = device;
    return true;
}

// A match file that cannot be read is said once, when it is read; its
// match is indexed all the same and keeps the problem.
void Scanner::tellMatchProblem(const std::string& session, const MatchFacts& match) {
    if (!match.problem.isEmpty())
        report_->skipped.emplace_back(matchFilePathFor(session).string(),
                                      QStringLiteral("タグは索引に入れました。") + match.problem);
}

// Marking a match is one small write: a failure ends the scan as any other
// would.
bool Scanner::marked(Stored& s, const QString& why) {
    return mark(s, why) || skipOrStop(s.session);
}

// A write for one file failed: a server gone (or a library held too long)
// ends the scan; anything else skips that file alone.
bool Scanner::skipOrStop(const std::string& session) {
    QString why = error_ ? *error_ : QString();
    c_.fail(&why);
    if (!c_.permanent()) {
        if (error_)
            *error_ = why;
        return false;
    }
    report_->skipped.emplace_back(session, QStringLiteral("索引に入れられません: ") + why);
    return true;
}

} // namespace library
