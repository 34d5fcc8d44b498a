#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "Model/DataModel.h"
#include "SubViewClass/Style.h"
#include "codewindow/CodeWindow.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QTableView;
class CustomTableView;
class EditableNSTextField;
class MainViewController;
class MediaPlayerView;
class Player;
class TagTableModel;
class TagTimeline;
struct StoreChange;
class Workspace;
struct TableColumn;
struct TagEdit;

// What the edit and play screens share: the tag list with its filter and
// sort, the media box and time label, and the six transport actions.
class TagTableScreen : public QWidget {
    Q_OBJECT
public:
    TagTableScreen(MainViewController* parent, QWidget* container, const char* prefix);

    CustomTableView* tagTableView = nullptr;
    QComboBox* tagFilterCombo = nullptr;
    QCheckBox* teamA_checkBox = nullptr;
    QCheckBox* teamB_checkBox = nullptr;
    // 試合時間: times as match time; off, as video time. Shown while the
    // match has periods.
    QCheckBox* matchTimeCheckBox = nullptr;
    QFrame* mediaPlayerBox = nullptr;
    // The listed tags along the video, under it.
    TagTimeline* tagTimeline = nullptr;
    EditableNSTextField* mediaTimeLabel = nullptr;
    QColor bgColor = Style::panel();
    MainViewController* myParent = nullptr;
    std::vector<std::shared_ptr<TagRowData>> tagTableData;
    int64_t tagTableSelectedRowIndex = -1;
    FilterSortData filterSortData;

    void reloadTagDataTable(bool keepSort);
    // No tag is chosen any more (another store is shown).
    virtual void forgetChosenTag();
    void onFilterUpdate();
    // What choosing a tag does, from its row or its mark: its comment is shown,
    // it becomes the chosen tag and the video jumps to it, playing on 2 seconds
    // later.
    void chooseTag(const std::shared_ptr<TagRowData>& tag);
    // Makes `tag` the chosen one and shows its row (the filter let go when it
    // hides it); `seek`: the video jumps to it as a click on the row does.
    void showTag(const std::shared_ptr<TagRowData>& tag, bool seek);
    // Sort-field change of a header click on the column with `identifier`.
    void toggleSortFor(const std::string& identifier);
    TagTableModel* tagModel() const { return tagModel_; }
    // The table's text, titles and rows in `font`: the titles are painted on
    // the header's viewport, which keeps a font of its own under a style sheet.
    static void setTableFont(QTableView* table, const QFont& font);
    // The one video view and its player, through the main view controller;
    // nullptr without one.
    MediaPlayerView* mediaView() const;
    Player* currentPlayer() const;
    // The choices the screens share, through the main view controller.
    Workspace* workspace() const;

    // XML出力: the listed tags as an XML edit list (their moments by 前/後 and
    // the chosen code window), through a save panel.
    void onTagXMLOutput();

    // The focus back to the video, where the keys code.
    void focusCoding();

    void mediaOpen();
    void mediaPlay();
    void mediaStop();
    void mediaBackward();
    void mediaForward();
    void mediaSlow();

    // Rescales text and rows to the screen's height H.
    virtual void updateView();

    // Every change of the session's store: the list, the strip and the
    // tally follow it (a hidden screen once it is shown).
    void onStoreChanged(const StoreChange& change);
    // The session's store holds another video's tags: nothing chosen, every
    // row rebuilt.
    virtual void onStoreReplaced();
    // An undo or redo changed the store: rebuilt with filter and sort.
    virtual void onStoreStepped();

    // The code window chosen on the edit screen: its names lead the filter
    // pop-up, its colours the strip, its label groups show the ラベル column.
    virtual void followCodeWindow(const CodeWindow& window);
    // Takes the window for the filter, the strip and the list; `reload`: lists again now.
    void takeCodeWindow(const CodeWindow& window, bool reload);
    const CodeWindow& followedWindow() const { return window_; }
    // "すべてを見る", the window's code names, then other names of the session;
    // the name chosen stays chosen while it is offered.
    void refreshFilterItems();

protected:
    // Follows the chosen code window from now on, starting with the one
    // chosen now.
    void followChosenWindow();
    // The open match's name; empty without a video.
    QString matchName() const;
    // Asks for a CSV file (proposing `proposedName`, ".csv" added when typed
    // without), then writes `text()` there atomically and tells the outcome.
    // The open video and its session file are refused as targets.
    void exportCsvThroughPanel(const QString& title, const QString& proposedName,
                               std::function<std::string()> text);
    // The same for a file of `extension`, telling `done` when written.
    void exportThroughPanel(const QString& title, const QString& proposedName,
                            const QString& extension, const std::string& done,
                            std::function<std::string()> text);
    void makeTagTable(std::vector<TableColumn> columns, bool checkable);
    QWidget* makeFilterRow();
    QCheckBox* makeMatchTimeSwitch(QWidget* parent);
    // The list and the strip read times as the store's match and the switch
    // say.
    void followMatch();
    // The widest time text the time column is made for.
    QString timeSample(bool lasting) const;
    QWidget* makeMediaColumn(bool withClipButtons);
    QWidget* makeTimeline();
    // The chosen tag's comment, in the screen's comment field.
    virtual void showComment(const std::string& comment) = 0;
    // The listed rows were rebuilt or changed.
    virtual void tagListChanged();
    static void fitColumns(CustomTableView* table, const QFont& font, const QString& timeSample,
                           int labelsWidth = 0);
    // The chosen tag changed (chosen, or none).
    virtual void chosenTagChanged() {}
    // Selects the row of the chosen tag again, if it is listed.
    void reselectChosenTag();
    // Redraws every row (ticks cleared) without moving the list.
    void reloadKeepingScroll();
    // The same, the newest row in sight when the list showed its end.
    void reloadFollowingTheEnd();
    // An edit of the store on the listed rows; `recorded`: a code pressed.
    void followEdit(const TagEdit& edit, bool recorded);
    // The time and label columns as the listed tags and the window need them.
    void fitShownColumns();
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

    std::string prefix_; // "Edit" or "Play": column identifiers begin with it
    TagTableModel* tagModel_ = nullptr;
    // The time column's width is made for this text: wider while a listed
    // tag shows its end, or match times show.
    QString timeSample_ = QStringLiteral("00:00:00");
    // The ラベル column shows while the window has label groups or a listed tag
    // has labels; hidden, the table is today's.
    bool labelsShown_ = false;
    bool listStale_ = false; // the store changed while hidden
    int labelsWidth() const;
    CodeWindow window_ = CodeWindow::standard();
};
