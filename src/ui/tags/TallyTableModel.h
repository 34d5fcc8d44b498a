#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "review/TagTally.h"

// The rows of the play screen's tally: tag name, team A, team B, total. Rows
// without tags stay, greyed, so the table keeps its shape.
class TallyTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { NameCol, TeamACol, TeamBCol, TotalCol };
    using QAbstractTableModel::QAbstractTableModel;

    void setTally(std::vector<TallyRow> tally);
    const std::vector<TallyRow>& tally() const { return tally_; }
    // The matrix shown, and its columns' texts ("なし" the last).
    const std::vector<LabelTallyRow>& labelTally() const { return labelRows_; }
    const std::vector<std::string>& labelTexts() const { return texts_; }
    // In place of the tally, the matrix of a label group: tag, team, one
    // column per text, then `rest` (なし: no text of the group). Empty texts:
    // the tally. The periods' matrix is shown the same way, 期間外 last.
    void setLabelTally(std::vector<LabelTallyRow> rows, std::vector<std::string> texts,
                       const char* rest = "なし");
    bool showsLabels() const { return !texts_.empty(); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<TallyRow> tally_;
    std::vector<LabelTallyRow> labelRows_;
    std::vector<std::string> texts_;
};
