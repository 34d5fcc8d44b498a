#include "SubViewClass/TallyTableModel.h"

#include <QColor>

void TallyTableModel::setTally(std::vector<TallyRow> tally) {
    beginResetModel();
    tally_ = std::move(tally);
    endResetModel();
}

int TallyTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(tally_.size());
}

int TallyTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 4;
}

QVariant TallyTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const TallyRow& row = tally_[static_cast<size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case NameCol:
            return QString::fromStdString(row.name);
        case TeamACol:
            return static_cast<qlonglong>(row.teamA);
        case TeamBCol:
            return static_cast<qlonglong>(row.teamB);
        default:
            return static_cast<qlonglong>(row.total());
        }
    case Qt::ToolTipRole:
        // A long name of no tag button may be cut in its column.
        return index.column() == NameCol ? QVariant(QString::fromStdString(row.name)) : QVariant();
    case Qt::ForegroundRole:
        return row.total() == 0 ? QColor(120, 134, 142) : QColor(Qt::white);
    case Qt::TextAlignmentRole:
        return index.column() == NameCol ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                                         : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant TallyTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const kTitles[] = {"タグ", "チームA", "チームB", "計"};
    return section >= 0 && section < 4 ? QString(kTitles[section]) : QVariant();
}
