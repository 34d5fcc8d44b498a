#pragma once

// How an export shows the angles of a match (the cameras beside the main
// video, see match/Angles.h). The sound is always the main video's.
#include <map>
#include <string>
#include <vector>

#include "match/Angles.h"

enum class AngleExport {
    Main,       // the main video alone, as without angles
    OneAngle,   // one angle's own frames over the moment, at its own rate
    SideBySide, // the main and the first angle, left and right
    Grid,       // the main and up to three angles, 2×2
    InTurn      // each moment from the main, then from each angle in turn
};

struct AngleExportChoice {
    AngleExport layout = AngleExport::Main;
    // OneAngle: the angle's name (moments of several matches share it); a
    // match without an angle of that name gives its main video.
    std::string angleName;
    // The angles of each main video, by the main video's path; their files
    // absolute.
    std::map<std::string, std::vector<MatchAngle>> angles;
};

// `angles` with each file made absolute: a relative one is relative to
// `folder` (the session file's).
std::vector<MatchAngle> withAbsoluteFiles(std::vector<MatchAngle> angles,
                                          const std::string& folder);
