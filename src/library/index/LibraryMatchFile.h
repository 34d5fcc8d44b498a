#pragma once

#include <QString>
#include <array>
#include <string>

#include "index/LibraryFiles.h"
#include "match/MatchInfo.h"

// What the library keeps of a match's match file (NAME.match.json beside the
// session file): the team names, the periods and the angles. The periods are kept as the
// file's JSON so a match file changed needs one row written, not its tags;
// match times are worked out as results are read.

namespace library {

// The stamp of a match file that is not there, and of one never looked at
// (a match indexed before match files were: read at the next scan).
inline constexpr int64_t kNoMatchFile = -1;
inline constexpr int64_t kMatchFileNotLooked = -2;

struct MatchFacts {
    FileStamp stamp{kNoMatchFile, 0, 0};
    QString hash;
    std::array<QString, 2> teams;
    QString periods; // matchJson of the periods alone; empty when none
    QString angles;  // matchJson of the angles alone; empty when none
    QString problem; // why the file cannot be read (Japanese); empty when it can
};

// The stamp of the match file beside `session` ({kNoMatchFile, 0} when none).
FileStamp matchFileStamp(const std::string& session);
// Reads the match file beside `session`. A damaged one gives its problem and
// no teams or periods; never a failure.
MatchFacts readMatchFacts(const std::string& session);
// The periods kept by readMatchFacts, back as a match to time tags by.
MatchInfo periodsFrom(const QString& periods);
// The angles kept by readMatchFacts, their files made absolute (a relative
// one is in the folder of `session`).
std::vector<MatchAngle> anglesFrom(const QString& angles, const std::string& session);

} // namespace library
