#include "tags/TallyTableModel.h"

#include <QColor>

void TallyTableModel::setTally(std::vector<TallyRow> tally) {
    beginResetModel();
    tally_ = std::move(tally);
    labelRows_.clear();
    texts_.clear();
    endResetModel();
}

void TallyTableModel::setLabelTally(std::vector<LabelTallyRow> rows, std::vector<std::string> texts,
                                    const char* rest) {
    beginResetModel();
    labelRows_ = std::move(rows);
    texts_ = std::move(texts);
    if (!texts_.empty())
        texts_.push_back(rest);
    endResetModel();
}

int TallyTableModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return static_cast<int>(showsLabels() ? labelRows_.size() : tally_.size());
}

int TallyTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : showsLabels() ? 2 + static_cast<int>(texts_.size()) : 4;
}

QVariant TallyTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (showsLabels()) {
        const LabelTallyRow& row = labelRows_[static_cast<size_t>(index.row())];
        const int c = index.column();
        switch (role) {
        case Qt::DisplayRole:
            if (c == 0)
                return QString::fromStdString(row.name);
            if (c == 1)
                return row.teamA ? QStringLiteral("A") : QStringLiteral("B");
            return static_cast<qlonglong>(row.counts[static_cast<size_t>(c - 2)]);
        case Qt::ToolTipRole:
            return c == 0 ? QVariant(QString::fromStdString(row.name)) : QVariant();
        case Qt::ForegroundRole:
            return row.total() == 0 ? QColor(120, 134, 142) : QColor(Qt::white);
        case Qt::TextAlignmentRole:
            return c == 0   ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                   : c == 1 ? QVariant(Qt::AlignCenter)
                            : QVariant(Qt::AlignRight | Qt::AlignVCenter);
        default:
            return {};
        }
    }
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
    if (showsLabels()) {
        if (section == 0)
            return QString("タグ");
        if (section == 1)
            return QString("チーム");
        return section - 2 < static_cast<int>(texts_.size())
                   ? QVariant(QString::fromStdString(texts_[static_cast<size_t>(section - 2)]))
                   : QVariant();
    }
    static const char* const kTitles[] = {"タグ", "チームA", "チームB", "計"};
    return section >= 0 && section < 4 ? QString(kTitles[section]) : QVariant();
}
