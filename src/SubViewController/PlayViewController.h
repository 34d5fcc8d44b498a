#pragma once

#include "SubViewController/TagTableScreen.h"

class QPlainTextEdit;

// Play mode: the video, and the tags read-only with their own filter and sort;
// choosing a tag shows its comment and jumps the video to it.
class PlayViewController : public TagTableScreen {
    Q_OBJECT
public:
    PlayViewController(MainViewController* parent, QWidget* container);

    // Read-only, several lines: a comment shows from its first character.
    QPlainTextEdit* commentTextView = nullptr;

    void viewDidLoad();
    void forgetChosenTag() override;
    void updateView() override;
    void onSelectTagTableRow();
    void onTagHeaderClicked(int column);
};
