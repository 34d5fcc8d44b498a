#pragma once

#include <QDialog>
#include <filesystem>
#include <string>

#include "match/MatchInfo.h"

class QPushButton;
class QTableWidget;

// The angles of a match: the list (name, file, offset, drift), 追加… (a
// video file, then its alignment), 名前変更, 削除 and 位置合わせ…. OK gives
// the match with its angles; nothing is changed before.
class AnglesDialog : public QDialog {
    Q_OBJECT
public:
    // `mainVideo`: the open video, whose session folder relative files are
    // kept in; `at`: its time now, where the alignment starts.
    AnglesDialog(const MatchInfo& match, std::string mainVideo, double at, QWidget* parent);

    // The match with its angles, once accepted.
    const MatchInfo& match() const { return match_; }

    // An angle's file as a path to open.
    std::filesystem::path pathOf(const MatchAngle& angle) const;

    void addAngle();
    void renameChosen();
    void removeChosen();
    // Opens the alignment of the chosen angle; OK there keeps its map.
    void alignChosen();

    QTableWidget* list = nullptr;

private:
    void angleChosen(const std::string& path);
    void showAngles(int chosen);
    int chosen() const;

    MatchInfo match_;
    std::vector<MatchAngle> angles_;
    std::string mainVideo_;
    double at_;
    QPushButton* add_ = nullptr;
    QPushButton* rename_ = nullptr;
    QPushButton* remove_ = nullptr;
    QPushButton* align_ = nullptr;
};
