#pragma once

#include <QDialog>
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "match/MatchInfo.h"
#include "match/Squad.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTableWidget;

// The squads folder: "squads" in Qt's data location of the application
// (~/.local/share/Rucktag/squads).
std::filesystem::path squadFolder();

// The players of a match, a team a side: the squad a team's players come
// from (a club's squad file, made, renamed and edited here, or filled from a
// CSV team sheet) and, ticked, those who played. OK writes the squads changed
// (atomically) and gives the match with its players; nothing is changed
// before.
class SquadDialog : public QDialog {
    Q_OBJECT
public:
    SquadDialog(const MatchInfo& match, std::filesystem::path folder, QWidget* parent);

    // The match with the players ticked, once accepted.
    const MatchInfo& match() const { return match_; }

    void accept() override;

private:
    struct Entry {
        Squad squad;
        std::string savedName; // the file's, empty while unsaved
        bool changed = false;
    };
    struct Side {
        QComboBox* chooser = nullptr;
        QLineEdit* name = nullptr;
        QTableWidget* table = nullptr;
        QLabel* count = nullptr;
        int shown = -1;                 // the entry in the table; -1: the match's players, no squad
        std::vector<MatchPlayer> loose; // those players
    };

    QWidget* makeSide(size_t team);
    // Shows entry `which` (-1: none) in the table of `team`, ticks as the
    // match had them or the first of the squad.
    void showSquad(size_t team, int which);
    void fillTable(size_t team, const std::vector<MatchPlayer>& players,
                   const std::vector<int>& ticked);
    // The table's rows as players; false (said) when a number is not one or
    // is repeated.
    bool readTable(size_t team, std::vector<MatchPlayer>& players, std::vector<int>* ticked);
    // Keeps the table's edits in the entry it shows.
    bool keepTable(size_t team);
    void newSquad(size_t team);
    void importSheet(size_t team);
    void rename(size_t team);
    void countTicks(size_t team);
    void refreshChoosers();
    std::string freeName(const std::string& wanted) const;

    MatchInfo match_;
    std::filesystem::path folder_;
    std::vector<Entry> entries_;
    std::array<Side, 2> sides_;
};
