#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <string>

#include "Media/Player.h"
#include "Model/DataModel.h"
#include "SubModuleClass/TagJournal.h"

class EditViewController;
class QKeyEvent;
class PlayViewController;
class MediaPlayerView;
class MenuButton;

// The main view: the menu column with the two mode buttons, the edit and play
// panels, and the one video view laid over the shown screen's media box. It
// owns the tag store, the unsaved-changes flag and the session file.
class MainViewController : public QWidget {
    Q_OBJECT
public:
    // `player` replaces the real player (tests).
    explicit MainViewController(QWidget* parent = nullptr, std::unique_ptr<Player> player = {});
    ~MainViewController() override;

    static constexpr const char* MAIN_EXT = "csv";
    static constexpr const char* TOTAL_ITEM = "すべてを見る";
    static constexpr const std::array<const char*, 18>& TAG_LABEL = kTagLabels;

    int64_t sys_index = 0;
    QWidget* menu_button_panel = nullptr;
    MenuButton* menu_editMode_btn = nullptr;
    MenuButton* menu_playMode_btn = nullptr;
    QWidget* editModePanel = nullptr;
    QWidget* playModePanel = nullptr;
    MediaPlayerView* MediaPlayer = nullptr;
    TagDataModel tagDataModel;
    bool m_fSave = false;
    EditViewController* editViewController = nullptr;
    PlayViewController* playViewController = nullptr;
    QWidget* mediaPlayerBox = nullptr;

    void viewDidLoad();
    void viewDidAppear();
    void onMenuSelectEditMode();
    void onMenuSelectPlayMode();
    void exchagePanel(int64_t index);
    void updateAVView();
    void onMinimize();
    void onMaximize();

    // Session file beside the video.
    std::string getCSVFileName() const;
    // The save flow; true when the tags were written.
    bool saveTagData();
    void onSave();
    void onClose();
    void afterOpenMedia(const std::string& url);
    bool isTerminating() const { return terminating_; }
    // False (after telling the user) while another window records this
    // video: this one only shows it.
    bool mayChangeTags();
    bool isViewOnly() const { return viewOnly_; }

    // Every change of the tag store goes through here: applied to the store,
    // kept for undo, journaled, and m_fSave set.
    void performTagEdit(TagEdit edit);
    // Undo and redo of the last tag edit; false when there was none. Both
    // screens are rebuilt with their filter and sort.
    bool undoTagEdit();
    bool redoTagEdit();
    // The history of the open video's tag edits, and their journal.
    TagHistory tagHistory;
    TagJournal tagJournal;

    void mediaBackward();
    // The main key map.
    void keyDown(QKeyEvent* event);

    // The size of the main view on a screen of `screen` (0.9 of it, 1669:969).
    static QSizeF mainViewSizeFor(QSizeF screen);
    // Where the video view goes: menu column width m, media box in the screen.
    static QRectF mediaFrameFor(double m, QRectF box);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Keys pressed anywhere inside a screen take the screen's road, whatever
    // widget holds the focus: only editable text keeps its keys.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // True when `w` edits text and so keeps the keys it is given.
    static bool keepsKeys(const QWidget* w);
    bool isSequenceKey(const QWidget* w, const QEvent* event) const;
    bool askBeforeReplacingVideo();
    void openFailed(const std::string& path, const std::string& reason);
    // The session file's tags; remembers (and notes for the user) what could
    // not be read, so that the first save keeps the file before replacing it.
    std::vector<std::shared_ptr<TagRowData>> loadSession(const std::string& path);
    void reportSessionProblem();
    bool keepDamagedSession(const std::string& path, std::string& kept);
    void showNoVideo();
    void showNewStore();
    void terminate();
    // Starts the journal of the video now open; offers to restore the
    // changes a journal holds from a run that ended without saving them.
    void openJournal(const std::string& sessionPath);
    // Journals an undone or redone step and shows it; false when there was none.
    bool afterHistoryStep(const TagEdit* applied);
    void showAfterHistoryStep();
    void watchJournal();
    void reportJournalFailure();

    QTimer resizableTimer_;
    bool appeared_ = false;
    bool terminating_ = false;
    std::string damagedSession_;     // path of a session file read only in part
    std::string sessionProblemNote_; // shown once the screens show what was read
    std::string openNote_;           // likewise, about the journal of the video
    SessionStamp loadedSession_;     // the session file as loaded or last saved
    bool viewOnly_ = false;          // another process records this video
    QTimer journalCheck_;
};
