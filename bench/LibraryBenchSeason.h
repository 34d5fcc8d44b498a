#pragma once

#include <QString>
#include <QTemporaryDir>

// The season the library benchmarks index: 40 matches of 3,000 tags in a
// temporary folder, written once (VIDEO.mp4 bytes, VIDEO.csv and, for every
// other match, VIDEO.match.json with teams and halves), and a throwaway
// PostgreSQL server (tests/tools/pg-server) for them.
namespace benchseason {

inline constexpr int kMatches = 40;
inline constexpr int kTags = 3000;

QString folder();

// Starts the server once; false with the reason in `problem` when there is none.
bool startServer(QString* problem);
// A library database: a new one on the server, or a SQLite file in `scratch`.
QString database(bool postgres, QTemporaryDir& scratch);
// Destroys the server when one was started.
void stopServer();

} // namespace benchseason
