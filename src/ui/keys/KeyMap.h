#pragma once

#include <QKeyCombination>
#include <cstddef>
#include <vector>

#include "codewindow/CodeWindow.h"

class QKeyEvent;

// What a key does.
struct KeyAction {
    enum class Kind : unsigned char {
        None, // claimed, does nothing (a held code key, a key of no use there)
        // The player.
        Play,
        Pause,
        Slow,
        PauseOrResume,
        Backward,
        Forward,
        VolumeUp,
        VolumeDown,
        Open,
        SequenceStep, // Page Down / Page Up: `step` is +1 / -1
        GoLive,       // End: to the live edge of a recording being written
        LeaveFullScreen,
        // The edit screen.
        Code,  // code `item` for team A (`teamA`) or B
        Label, // text `text` of label group `item`
        // A digit of no code's or label's key (`step`: 0-9), a shirt number
        // right after a code.
        PlayerDigit,
        ClipStart,
        ClipEnd,
        PeriodStart, // "[": a period of the match begins
        PeriodEnd,   // "]": the open period ends
        // The history of tag edits.
        Undo,
        Redo
    };
    Kind kind = Kind::None;
    size_t item = 0;
    size_t text = 0;
    bool teamA = false;
    int step = 0;
    // Any key but a modifier alone takes over from a playing sequence.
    bool endsSequence = false;

    bool isTransport() const { return kind >= Kind::Play && kind <= Kind::LeaveFullScreen; }
};

// The application's keys: the player's, the clip and period marks, undo and redo, and
// the chosen code window's keys for its codes and labels. Where the key was
// pressed decides what it may do: on the video every key of the key table
// (the edit screen's own while that screen is shown); on the edit screen only
// its codes, labels, clip and period marks and digits (shirt numbers); on the
// play screen the player's keys.
class KeyMap {
public:
    enum class Place : unsigned char { Video, EditScreen, PlayScreen };

    // The code and label keys of `window`.
    void setCodeWindow(const CodeWindow& window);
    // What `event` does pressed at `place`; `editShown`: the edit screen is
    // the one shown (the video then codes as the edit screen does).
    KeyAction actionFor(const QKeyEvent& event, Place place, bool editShown) const;
    // Whether `event`, as typed, is a code's or a label's key.
    bool isCodingKey(const QKeyEvent& event) const;
    // Undo (Ctrl+Z), Redo (Ctrl+Shift+Z, Ctrl+Y), else None.
    static KeyAction::Kind historyKey(const QKeyEvent& event);

private:
    struct Entry {
        QKeyCombination key;
        KeyAction action;
    };
    // The code's or label's entry for `event` (codes first), or null.
    const Entry* codingEntry(const QKeyEvent& event) const;
    static KeyAction playerAction(const QKeyEvent& event);
    std::vector<Entry> codes_;
    std::vector<Entry> labels_;
};
