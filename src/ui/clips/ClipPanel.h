#pragma once

#include <QWidget>
#include <memory>
#include <vector>

#include "Model/DataModel.h"

class ClipTableModel;
class CustomTableView;
class GeneralButton;
class MediaPlayerView;
class Player;
class TagTableScreen;

// The edit screen's clips: marking a start and an end on the video, the clip
// table with its ticks, deleting, and exporting one clip through an export
// window of its own.
class ClipPanel : public QWidget {
    Q_OBJECT
public:
    explicit ClipPanel(TagTableScreen* screen);

    CustomTableView* clipTableView = nullptr;
    std::vector<std::shared_ptr<ClipRowData>> clipTableData;
    int64_t clipTableSelectedRowIndex = -1;
    bool clipTableCheckAllStatus = false;

    ClipTableModel* model() const { return model_; }

    void mediaClipStart();
    void mediaClipEnd();
    void onSelectClipTableRow();
    void onDblClickClipTableRow();
    void onClipHeaderClicked(int column);
    void onClipDelete();
    // Exports the one ticked clip.
    void onClipOutput();
    // Exports the clip of `row`: asks for the target, then opens an export
    // window that runs by itself.
    void clipConvert(int row);
    // Empties the clip list (a newly opened video has no clips).
    void clearClips();
    // Nothing chosen, the tick-all title unticked.
    void resetTicks();
    // Rows and text scaled to a row height of `row` pixels.
    void scaleRows(int row);

private:
    void reloadClipTable();
    bool videoIsOpen() const;

    TagTableScreen* screen_;
    ClipTableModel* model_ = nullptr;
    GeneralButton* outputButton_ = nullptr;
    int64_t nextClipIndex_ = 0;
};
