#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "Model/DataModel.h"
#include "SubModuleClass/TagFileManager.h"
#include "journal/TagJournal.h"
#include "session/TagEdit.h"

class MediaPlayerView;

// A change of the tag store, as the screens follow it.
struct StoreChange {
    enum class Kind : unsigned char {
        Replaced, // another video's tags, none, or those restored from the journal
        Recorded, // a code pressed: its new tags are listed last, the newest chosen
        Edited,   // any other edit: a comment, labels, a deletion, an import
        Stepped   // an undo or a redo
    };
    Kind kind = Kind::Edited;
    const TagEdit* edit = nullptr; // as applied to the store; null when replaced
};

// What a tag CSV file lost on reading, a line per kind ("3, 7行目: ..."),
// each ending in a line feed; empty when nothing.
std::string csvDamageText(const TagFileManager::LoadResult& loaded);

// The session of the open video: its tag store (owned by the main view and
// shared with the screens), the undo history and the journal, and the flows
// around them: opening and restoring, saving, the questions before a video is
// replaced or the application closes, undo and redo. Every change of the
// store comes out as one signal, storeChanged, which both screens follow.
class SessionController : public QObject {
    Q_OBJECT
public:
    SessionController(TagDataModel& store, bool& unsaved, QObject* parent = nullptr);
    // The video view whose video the session belongs to.
    void setView(MediaPlayerView* view);

    // The session file beside the open video, or empty without one.
    std::string sessionPath() const;
    // Whether `video` is the one open now.
    bool isOpenVideo(const std::string& video) const;
    // The open match's name (its video's file name without the extension);
    // empty without a video.
    QString matchName() const;
    // The save flow; true when the tags were written.
    bool save();
    // Asked before the application quits; false keeps it open.
    bool mayClose();
    // Asked before another video replaces the open one; false keeps it.
    bool mayReplaceVideo();
    // Asks about the unsaved tags once for several videos about to be opened
    // one after another (a sequence across matches): true lets the next
    // opening go without asking again, until a tag changes.
    bool mayLeaveVideo();
    // The answer given to mayLeaveVideo no longer holds (the sequence ended
    // before its next video): the next opening asks as usual.
    void forgetLeaveAnswer() { leaveAsked_ = false; }
    // A video was opened: its session file is loaded (and a journal left by
    // an earlier run offered) and the store replaced.
    void videoOpened();
    // A chosen video could not be opened: no video, an empty store.
    void videoFailed(const std::string& path, const std::string& reason);

    // False (after telling the user) while another window records this
    // video: this one only shows it.
    bool mayChangeTags();
    bool isViewOnly() const { return viewOnly_; }

    // Every change of the store goes through here: applied, kept for undo,
    // journaled, the unsaved flag set, and told.
    void perform(TagEdit edit, StoreChange::Kind kind = StoreChange::Kind::Edited);
    // Undo and redo of the last edit; false when there was none.
    bool undo();
    bool redo();

    TagHistory history;
    TagJournal journal;

signals:
    // The store changed: edited, undone or redone, or replaced.
    void storeChanged(const StoreChange& change);
    // The store was written to `session`, the session file of `video`.
    void saved(const std::string& video, const std::string& session);
    // The match's angles changed (after storeChanged): added, aligned,
    // renamed, removed, undone, or another video's.
    void anglesChanged();

private:
    // The session file's tags; remembers (and notes for the user) what could
    // not be read, so that the first save keeps the file before replacing it.
    std::vector<std::shared_ptr<TagRowData>> loadSession(const std::string& path);
    void reportSessionProblem();
    bool keepDamagedSession(const std::string& path, std::string& kept);
    // The match file beside `sessionFile` into the store's match; one that
    // cannot be read is noted for the user and kept aside at the first save.
    void loadMatch(const std::string& sessionFile);
    // Writes the match file beside `sessionFile` (when there is a match or a
    // file already), keeping a damaged one first; the reason when it failed.
    std::string saveMatch(const std::string& sessionFile, std::string& kept);
    void showNoVideo();
    void showNewStore();
    // Starts the journal of the video now open; offers to restore the
    // changes a journal holds from a run that ended without saving them.
    void openJournal(const std::string& sessionFile);
    std::string recoveryQuestion(const JournalContents& found) const;
    // Journals an undone or redone step and shows it; false when there was none.
    bool afterHistoryStep(const TagEdit* applied);
    void watchJournal();
    void reportJournalFailure();

    TagDataModel& store_;
    bool& unsaved_;
    MediaPlayerView* view_ = nullptr;
    std::string damagedSession_;     // path of a session file read only in part
    std::string damagedMatch_;       // path of a match file that could not be read
    std::string sessionProblemNote_; // shown once the screens show what was read
    std::string openNote_;           // likewise, about the journal of the video
    SessionStamp loadedSession_;     // the session file as loaded or last saved
    bool viewOnly_ = false;          // another process records this video
    bool leaveAsked_ = false;        // mayLeaveVideo answered; no tag changed since
    QTimer journalCheck_;
    std::vector<MatchAngle> angles_; // as last told by anglesChanged
};
