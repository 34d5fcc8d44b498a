#pragma once

#include <QWidget>

#include "codewindow/CodeWindow.h"

class QGridLayout;
class QLineEdit;

// The code window editor's chosen label group: its name, and its texts with
// their keys (× takes a text off, ラベルを追加 adds one). Disabled while no
// group is chosen.
class LabelGroupForm : public QWidget {
    Q_OBJECT
public:
    // `window`: the window edited, whose label groups are changed in place
    // and whose keys a text's key may not repeat.
    LabelGroupForm(CodeWindow& window, QWidget* parent);
    // Shows the window's group `group` (-1: none).
    void showGroup(int group);
    // The focus in the name, all of it chosen.
    void editName();

signals:
    void renamed(const QString& name);

private:
    LabelGroup* group();
    void showTexts();
    void setKey(size_t text, const QString& key);

    CodeWindow& window_;
    int group_ = -1;
    QLineEdit* name_;
    QGridLayout* texts_;
};
