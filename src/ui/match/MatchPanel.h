#pragma once

#include <QWidget>
#include <string>

#include "match/MatchInfo.h"

class EditableNSTextField;
class GeneralButton;
class QComboBox;
class TagTableScreen;
struct StoreChange;

// The edit screen's match: the periods marked on the video (開始 and 終了 at
// the video's position, a chosen period's start or end moved by a frame or a
// second, 削除) and the two team names in the team headers. Every change is
// one undoable edit of the store's match; the controls show the store's
// match after any change of it.
class MatchPanel : public QWidget {
    Q_OBJECT
public:
    MatchPanel(TagTableScreen* screen, EditableNSTextField* teamA, EditableNSTextField* teamB);

    QComboBox* periodList = nullptr; // the periods; the chosen one is moved or removed
    QComboBox* periodEdge = nullptr; // which end of it moves: 開始 or 終了

    void markStart();
    void markEnd();
    // The chosen period's start or end by `seconds` (a frame: frameSeconds()).
    void moveChosen(double seconds);
    void removeChosen();
    // One frame of the video (25 fps: the player does not tell its rate).
    static constexpr double frameSeconds() { return 1.0 / 25.0; }

    // Shows the store's match when `change` replaced the store or changed its match.
    void followStore(const StoreChange& change);

private:
    QWidget* makeRow();
    // `change` applied to a copy of the store's match, done as one edit; its
    // refusal told. Returns whether it was done.
    template <typename Change> bool edit(Change change);
    void nameTeam(int team);
    void showMatch();
    bool videoIsOpen() const;

    TagTableScreen* screen_;
    EditableNSTextField* teams_[2];
};
