#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the season library reads from the file system and from a database
// name, apart from any database.

namespace library {

// Title and date a match takes from its video's file name: a date written
// 2026-04-12, 2026_04_12, 2026.04.12 or 20260412 anywhere in the name becomes
// the date; the rest, trimmed of separators, the title (the whole name when
// nothing is left).
struct NameInfo {
    QString title;
    QString date; // "YYYY-MM-DD" or empty
};
NameInfo infoFromFileName(const std::string& videoPath);

// Whether `date` is empty or a real "YYYY-MM-DD" day.
bool isDateText(const QString& date);

// Size and modification time (nanoseconds) of a file; nullopt when it is no
// readable regular file.
struct FileStamp {
    int64_t size = 0;
    int64_t mtime = 0;
    int64_t device = 0; // the file system holding it (a drive unplugged shows)
};
std::optional<FileStamp> fileStamp(const std::string& path);

// A video's identity, found again after a move or a rename: its size and a
// hash of its first and last megabytes. Empty when it cannot be read.
QString videoIdentity(const std::string& path);

// Hash of a whole file's bytes; empty when it cannot be read.
QString contentHash(const std::string& path);

// The file system type name when `path` (or the nearest folder above it that
// exists) lies on a network file system (NFS, SMB/CIFS, sshfs, ...); empty
// on a local one. `magic` and `mountType` are statfs's f_type and the
// mount table's type of the same place.
QString networkFileSystem(const QString& path);
QString networkFileSystemName(int64_t magic, const QString& mountType);

// A PostgreSQL connection from postgresql://[user@]host[:port]/dbname?key=value
// (host=/socket/dir, port=, user=, dbname= and libpq's other keys in the query).
struct PostgresTarget {
    QString host, database, user;
    int port = -1;
    QStringList options; // other libpq keys, "key=value" as given (not quoted)
};
bool isPostgresUrl(const QString& database);
// False with a Japanese reason when the URL cannot be used: a password in it
// (it belongs in ~/.pgpass or libpq's environment), a keyword libpq does not
// know or the library does not allow, two database names, or a value with
// ';' or a control character (Qt cannot pass them on).
bool parsePostgresUrl(const QString& url, PostgresTarget& target, QString* error);
// The whole libpq connection string for Qt's connect options: every value
// quoted as libpq reads it, `defaults` ("key=value") before the URL's own.
QString postgresConnectOptions(const PostgresTarget& target, const QStringList& defaults = {});

// The form comments and search words are compared in, the same on both
// engines: NFKC (full-width ＡＢＣ is ABC, half-width ｶﾅ is カナ), case folded.
QString searchKey(const QString& text);

// Splits search text into words at white space (the ideographic space too).
std::vector<QString> searchWords(const std::string& text);
// `word` for LIKE with '!' as the escape character: %, _ and ! are literal.
QString likePattern(const QString& word);

} // namespace library
