#pragma once

#include "SubViewController/TagTableScreen.h"

// Play mode: the video, and the tags read-only with their own filter and sort;
// choosing a tag shows its comment and jumps the video to it.
class PlayViewController : public TagTableScreen {
    Q_OBJECT
public:
    PlayViewController(MainViewController* parent, QWidget* container);

    EditableNSTextField* commentTextView = nullptr;

    void viewDidLoad();
    void onSelectTagTableRow();
    void onTagHeaderClicked(int column);
};
