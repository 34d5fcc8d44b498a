#pragma once

#include <QWidget>
#include <map>
#include <string>
#include <vector>

#include "export/AngleExport.h"

class QComboBox;
struct MatchInfo;

// The アングル choice of the export window: how the moments show the match's
// angles (the main video, one angle, side by side, 2×2, one after another).
class AngleChoiceRow : public QWidget {
    Q_OBJECT
public:
    // `angles`: each video's angles; the choice names every angle once.
    AngleChoiceRow(const std::map<std::string, std::vector<MatchAngle>>& angles, QWidget* parent);
    AngleExportChoice choice() const;
    QComboBox* combo = nullptr;

private:
    std::map<std::string, std::vector<MatchAngle>> angles_;
};

// The angles of `video`'s match, files absolute: `open`'s (the open video's
// match, as edited) when given, else those of the video's match file.
std::vector<MatchAngle> anglesOfVideo(const std::string& video, const MatchInfo* open = nullptr);
