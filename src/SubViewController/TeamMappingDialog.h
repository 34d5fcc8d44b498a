#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QRadioButton;

// Asks the team of each code an imported file does not tell: one row per
// code with チームA / チームB (A chosen first), 読み込む and キャンセル.
class TeamMappingDialog : public QDialog {
public:
    TeamMappingDialog(const std::vector<std::string>& codes, QWidget* parent);
    // True for team A, by the codes' order.
    std::vector<bool> teams() const;

private:
    std::vector<QRadioButton*> teamA_;
};
