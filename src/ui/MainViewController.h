#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <string>

#include "Model/DataModel.h"
#include "player/Player.h"
#include "season/LibraryLink.h"
#include "session/SessionController.h"

class EditViewController;
class KeyRouter;
class LibraryClient;
class PlayViewController;
class TagTableScreen;
class Workspace;
class MediaPlayerView;
class MenuButton;

// The main view: the menu column with the two mode buttons, the edit and play
// panels, and the one video view laid over the shown screen's media box. It
// owns the tag store, the unsaved-changes flag and the session file, and the
// workspace of the choices the screens share.
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
    // Whether the edit screen is the one shown (else the play screen).
    bool isEditShown() const { return sys_index == 0; }
    TagTableScreen* shownScreen() const;
    Workspace* workspace;
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
    std::string getCSVFileName() const { return session->sessionPath(); }
    // The save flow; true when the tags were written.
    bool saveTagData() { return session->save(); }
    void onSave() { saveTagData(); }
    void onClose();
    void afterOpenMedia(const std::string& url);
    // Opens `path` as if chosen in the open panel (a video named on the
    // command line); `opened` runs once its tags are shown.
    void openVideo(const std::string& path, std::function<void()> opened = {});
    bool isTerminating() const { return terminating_; }
    // The season library: its client (opened on first use; saves are
    // indexed into it), its window and its notices.
    LibraryLink* libraryLink() const { return libraryLink_; }
    LibraryClient* library() { return libraryLink_->client(); }
    // False (after telling the user) while another window records this
    // video: this one only shows it.
    bool mayChangeTags() { return session->mayChangeTags(); }
    bool isViewOnly() const { return session->isViewOnly(); }

    // Every change of the tag store goes through here: applied to the store,
    // kept for undo, journaled, and m_fSave set.
    void performTagEdit(TagEdit edit, StoreChange::Kind kind = StoreChange::Kind::Edited) {
        session->perform(std::move(edit), kind);
    }
    // Undo and redo of the last tag edit; false when there was none. Both
    // screens are rebuilt with their filter and sort.
    bool undoTagEdit() { return session->undo(); }
    bool redoTagEdit() { return session->redo(); }

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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void terminate();

    QTimer resizableTimer_;
    bool terminating_ = false;
    LibraryLink* libraryLink_ = nullptr;
    KeyRouter* keyRouter_ = nullptr;
};
