#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Model/DataModel.h"

// What the library's tests share: tags and session files to index, and the
// throwaway PostgreSQL servers (tests/tools/pg-server).
namespace librarytest {

std::shared_ptr<TagRowData> tag(bool teamA, float time, const std::string& code,
                                const std::string& comment = "", TagLabels labels = {},
                                std::optional<float> end = std::nullopt);

// VIDEO (bytes from `seed`, so two seeds are two videos) and its session file.
void writeMatch(const QString& folder, const QString& stem,
                const std::vector<std::shared_ptr<TagRowData>>& tags, int seed);
// The session file alone (the video stays as it is).
void writeSession(const QString& folder, const QString& stem,
                  const std::vector<std::shared_ptr<TagRowData>>& tags);
std::string sessionOf(const QString& folder, const QString& stem);
// `bytes` as the file at `path`, or after what it holds.
void writeFile(const QString& path, const QByteArray& bytes, bool append = false);
std::string videoOf(const QString& folder, const QString& stem);

// Runs `sql` on the library at `url` (a SQLite file or a postgresql:// URL)
// over a plain connection; empty, or the first failure's reason.
QString execOn(const QString& url, const QStringList& sql);

// Whether Debian's PostgreSQL server binaries are here.
bool serverBinariesPresent();
inline const char* kNoServerBinaries =
    "PostgreSQL server binaries (/usr/lib/postgresql/*/bin/initdb, pg_ctl) are missing: "
    "install the postgresql package to run the PostgreSQL cases";

// tests/tools/pg-server ACTION DIR; false with its output.
bool pgServer(const QString& action, const QString& dir, QString* output);
// Sends `sig` (SIGSTOP, SIGCONT) to every process of the server in `dir`:
// a server frozen and let go on.
void signalServer(const QString& dir, int sig);

// A new empty database on the suite's server (the ctest fixture's, or one
// started for this run); its postgresql:// URL, or empty with the reason.
QString newDatabase(QString* why);
QString newDatabaseOn(const QString& socketDir, QString* why);
void dropDatabase(const QString& url);

// Stops the server this run started, if any.
void stopOwnServer();

} // namespace librarytest
