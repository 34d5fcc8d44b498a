#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <string>

#include "Model/DataModel.h"
#include "player/Player.h"
#include "session/SessionController.h"

class EditViewController;
class KeyRouter;
class LibraryClient;
class LibraryWindow;
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
    // The open video's session: history, journal, open/save/close flows.
    SessionController* session;
    TagHistory& tagHistory;
    TagJournal& tagJournal;
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
    // Opens `path` as if chosen in the open panel (a video named on the
    // command line); `opened` runs once its tags are shown.
    void openVideo(const std::string& path, std::function<void()> opened = {});
    bool isTerminating() const { return terminating_; }
    // The open match's name (its video's file name without the extension);
    // empty without a video.
    QString matchName() const;
    // Asks about the open video's unsaved tags once for several videos about
    // to be opened one after another (a sequence across matches): true lets
    // the next opening go without asking again, until a tag changes.
    bool mayLeaveVideo();
    // The answer given to mayLeaveVideo no longer holds (the sequence ended
    // before its next video): the next opening asks as usual.
    void forgetLeaveAnswer() { leaveAsked_ = false; }
    // The season library, opened on first use; saves are indexed into it.
    LibraryClient* library();
    // Its window, made on first use (a window of its own beside this one),
    // shown and raised.
    QWidget* showLibraryWindow();
    LibraryWindow* libraryWindow() const { return libraryWindow_; }
    // The video shown at the tag of `code` that is `position` (from 0) in
    // its session file, at `time`: opened through the open flow when another
    // video is open (cancelled, nothing changes); its row chosen on the edit
    // screen and the video at it as a click on the row does. `done` runs
    // once it is shown.
    void openAtTag(const std::string& video, int position, double time, const std::string& code,
                   std::function<void()> done = {});
    // The store's tag at `position` of the session file (the one nearest
    // `time` of that name when the file has changed); null when none.
    std::shared_ptr<TagRowData> sessionTag(int position, double time,
                                           const std::string& code) const;
    // Whether `video` is the one open now.
    bool isOpenVideo(const std::string& video) const;
    // False (after telling the user) while another window records this
    // video: this one only shows it.
    bool mayChangeTags();
    bool isViewOnly() const;

    // Every change of the tag store goes through here: applied to the store,
    // kept for undo, journaled, and m_fSave set.
    void performTagEdit(TagEdit edit, StoreChange::Kind kind = StoreChange::Kind::Edited);
    // Undo and redo of the last tag edit; false when there was none. Both
    // screens are rebuilt with their filter and sort.
    bool undoTagEdit();
    bool redoTagEdit();

    // The focus back where coding happens (the video), a text field's work
    // being done.
    void focusCoding();

    // The size of the main view on a screen of `screen` (0.9 of it, 1669:969).
    static QSizeF mainViewSizeFor(QSizeF screen);
    // Where the video view goes: menu column width m, media box in the screen.
    static QRectF mediaFrameFor(double m, QRectF box);

signals:
    // The window lets itself be resized (the grip shows) or not.
    void resizableChanged(bool on);
    // The window enters or leaves full screen.
    void fullScreenToggled();
    // Another match is open (`name` empty: none).
    void matchChanged(const QString& name);
    // Something about the library for the status area ("" clears it).
    void libraryNotice(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // The shown screen's media box moved or changed size.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void terminate();

    QTimer resizableTimer_;
    // Places the video once the shown screen's layout has settled.
    QTimer videoPlacement_;
    bool appeared_ = false;
    bool terminating_ = false;
    bool leaveAsked_ = false; // mayLeaveVideo answered; no tag changed since
    LibraryClient* library_ = nullptr;
    LibraryWindow* libraryWindow_ = nullptr;
    KeyRouter* keyRouter_ = nullptr;
};
