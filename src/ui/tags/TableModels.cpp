#include "tags/TableModels.h"
#include "text/TimeText.h"

#include <cstring>

namespace {
const QString kCheckAllOff = QString::fromUtf8("❎");
const QString kCheckAllOn = QString::fromUtf8("✅");
} // namespace

RowTableModel::RowTableModel(std::vector<TableColumn> columns, bool hasCheckColumn, QObject* parent)
    : QAbstractTableModel(parent), columns_(std::move(columns)), hasCheckColumn_(hasCheckColumn) {
    if (hasCheckColumn_)
        columns_[0].title = kCheckAllOff;
}

int RowTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant RowTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < static_cast<int>(columns_.size()))
        return columns_[static_cast<size_t>(section)].title;
    return {};
}

Qt::ItemFlags RowTableModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (hasCheckColumn_ && index.column() == 0)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

bool RowTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !hasCheckColumn_ || index.column() != 0)
        return false;
    setTicked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

const char* RowTableModel::columnIdentifier(int column) const {
    if (column < 0 || column >= static_cast<int>(columns_.size()))
        return "";
    return columns_[static_cast<size_t>(column)].identifier;
}

int RowTableModel::columnOf(const char* identifier) const {
    for (size_t c = 0; c < columns_.size(); ++c)
        if (std::strcmp(columns_[c].identifier, identifier) == 0)
            return static_cast<int>(c);
    return -1;
}

void RowTableModel::reload() {
    beginResetModel();
    ticks_.assign(static_cast<size_t>(rows()), 0);
    hoverRow_ = -1;
    endResetModel();
}

bool RowTableModel::isTicked(int row) const {
    return row >= 0 && row < static_cast<int>(ticks_.size()) && ticks_[static_cast<size_t>(row)];
}

void RowTableModel::setTicked(int row, bool on) {
    if (row < 0 || row >= rows())
        return;
    if (ticks_.size() != static_cast<size_t>(rows()))
        ticks_.resize(static_cast<size_t>(rows()), 0);
    ticks_[static_cast<size_t>(row)] = on;
    emit dataChanged(index(row, 0), index(row, 0), {Qt::CheckStateRole});
}

void RowTableModel::setAllTicked(bool on) {
    ticks_.assign(static_cast<size_t>(rows()), on);
    if (rows() > 0)
        emit dataChanged(index(0, 0), index(rows() - 1, 0), {Qt::CheckStateRole});
}

void RowTableModel::setCheckAllTitle(bool allOn) {
    if (!hasCheckColumn_)
        return;
    columns_[0].title = allOn ? kCheckAllOn : kCheckAllOff;
    emit headerDataChanged(Qt::Horizontal, 0, 0);
}

void RowTableModel::setHoverRow(int row) {
    if (!hoverColor.isValid() || row == hoverRow_)
        return;
    const int old = hoverRow_;
    hoverRow_ = row;
    const int last = columnCount() - 1;
    if (old >= 0 && old < rows())
        emit dataChanged(index(old, 0), index(old, last), {Qt::BackgroundRole});
    if (row >= 0 && row < rows())
        emit dataChanged(index(row, 0), index(row, last), {Qt::BackgroundRole});
}

int RowTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows();
}

QVariant RowTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows())
        return {};
    if (QVariant common = commonData(index, role); common.isValid())
        return common;
    if (role != Qt::DisplayRole)
        return {};
    return displayText(index.row(), columnIdentifier(index.column()));
}

QVariant RowTableModel::commonData(const QModelIndex& index, int role) const {
    if (role == Qt::CheckStateRole && hasCheckColumn_ && index.column() == 0)
        return isTicked(index.row()) ? Qt::Checked : Qt::Unchecked;
    if (role == Qt::BackgroundRole && index.row() == hoverRow_ && hoverColor.isValid())
        return hoverColor;
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    return {};
}

TagTableModel::TagTableModel(const std::vector<std::shared_ptr<TagRowData>>& rows,
                             std::vector<TableColumn> columns, bool hasCheckColumn, QObject* parent)
    : RowTableModel(std::move(columns), hasCheckColumn, parent), rows_(rows) {
    hoverColor = QColor(138, 43, 226);
}

QVariant TagTableModel::displayText(int row, std::string_view id) const {
    const TagRowData& tag = *rows_[static_cast<size_t>(row)];
    if (id.ends_with("TeamCol"))
        return tag.team ? QStringLiteral("A") : QStringLiteral("B");
    if (id.ends_with("IndexCol"))
        return row + 1;
    if (id.ends_with("TimeCol")) {
        const std::string start = match_ ? matchTimeText(*match_, tag.time_val) : tag.time_string;
        // A tag that lasts shows its end, or that it is still open.
        if (tag.end.state == TagEnd::State::None)
            return QString::fromStdString(start);
        const std::string end = !tag.end.isSet() ? ""
                                : match_         ? matchTimeText(*match_, tag.end.time)
                                                 : createTimeString(tag.end.time);
        return QString::fromStdString(start + "–" + end);
    }
    if (id.ends_with("NameCol"))
        return QString::fromStdString(tag.name);
    if (id.ends_with("CommentCol"))
        return tag.comment.empty() ? QString() : QStringLiteral("!");
    if (id.ends_with("LabelsCol"))
        return labelTexts(tag.labels);
    return {};
}

QVariant TagTableModel::data(const QModelIndex& index, int role) const {
    // The column shows the texts only; the groups are in the tool tip.
    if (role == Qt::ToolTipRole && index.isValid() && index.row() < rows() &&
        std::string_view(columnIdentifier(index.column())).ends_with("LabelsCol")) {
        const TagLabels& labels = rows_[static_cast<size_t>(index.row())]->labels;
        return labels.empty() ? QVariant() : QVariant(labelPairs(labels));
    }
    return RowTableModel::data(index, role);
}

void TagTableModel::setMatch(std::optional<MatchInfo> match) {
    if (match == match_)
        return;
    match_ = std::move(match);
    for (int c = 0; c < columnCount(); ++c)
        if (std::string_view(columnIdentifier(c)).ends_with("TimeCol") && rows() > 0)
            emit dataChanged(index(0, c), index(rows() - 1, c), {Qt::DisplayRole});
}

QString TagTableModel::labelTexts(const TagLabels& labels) {
    QStringList texts;
    for (const auto& [group, text] : labels)
        texts << QString::fromStdString(text);
    return texts.join(QStringLiteral("・"));
}

QString TagTableModel::labelPairs(const TagLabels& labels) {
    QStringList lines;
    for (const auto& [group, text] : labels)
        lines << QString::fromStdString(group) + ": " + QString::fromStdString(text);
    return lines.join('\n');
}

ClipTableModel::ClipTableModel(const std::vector<std::shared_ptr<ClipRowData>>& rows,
                               std::vector<TableColumn> columns, QObject* parent)
    : RowTableModel(std::move(columns), true, parent), rows_(rows) {}

QVariant ClipTableModel::displayText(int row, std::string_view id) const {
    const ClipRowData& clip = *rows_[static_cast<size_t>(row)];
    if (id.ends_with("StartCol"))
        return QString::fromStdString(clip.startTimeString);
    if (id.ends_with("EndCol"))
        return QString::fromStdString(clip.endTimeString);
    return {};
}
