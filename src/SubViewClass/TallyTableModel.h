#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "Model/TagTally.h"

// The rows of the play screen's tally: tag name, team A, team B, total. Rows
// without tags stay, greyed, so the table keeps its shape.
class TallyTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { NameCol, TeamACol, TeamBCol, TotalCol };
    using QAbstractTableModel::QAbstractTableModel;

    void setTally(std::vector<TallyRow> tally);
    const std::vector<TallyRow>& tally() const { return tally_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<TallyRow> tally_;
};
