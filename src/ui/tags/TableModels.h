#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "Model/DataModel.h"
#include "match/MatchInfo.h"

// A column of a screen's table: its identifier (the screens compare these)
// and its header title.
struct TableColumn {
    const char* identifier;
    QString title;
};

// Common to the tag and clip tables: identifiers, ticks of the check column,
// and the row under the pointer.
class RowTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    RowTableModel(std::vector<TableColumn> columns, bool hasCheckColumn, QObject* parent);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    const char* columnIdentifier(int column) const;
    int columnOf(const char* identifier) const;

    // The list changed: every row is drawn anew and every tick cleared.
    void reload();
    bool isTicked(int row) const;
    void setTicked(int row, bool on);
    void setAllTicked(bool on);
    void setCheckAllTitle(bool allOn);
    void setHoverRow(int row);
    int hoverRow() const { return hoverRow_; }
    // Whole-row highlight under the pointer; none for tables without it.
    QColor hoverColor;

protected:
    virtual int rows() const = 0;
    // The text of `row` in the column with identifier `id`.
    virtual QVariant displayText(int row, std::string_view id) const = 0;
    QVariant commonData(const QModelIndex& index, int role) const;

private:
    std::vector<TableColumn> columns_;
    bool hasCheckColumn_;
    std::vector<char> ticks_;
    int hoverRow_ = -1;
};

// Rows of tags: Team, No., time, name, "!" for a comment, the labels' texts.
class TagTableModel : public RowTableModel {
    Q_OBJECT
public:
    TagTableModel(const std::vector<std::shared_ptr<TagRowData>>& rows,
                  std::vector<TableColumn> columns, bool hasCheckColumn, QObject* parent);
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // The texts of a tag's labels, as the ラベル column shows them ("成功・中央").
    static QString labelTexts(const TagLabels& labels);
    // Every label as "group: text", one a line.
    static QString labelPairs(const TagLabels& labels);

    // Times show as match time in `match`; none: as video time.
    void setMatch(std::optional<MatchInfo> match);
    const std::optional<MatchInfo>& match() const { return match_; }

protected:
    int rows() const override { return static_cast<int>(rows_.size()); }
    QVariant displayText(int row, std::string_view id) const override;

private:
    const std::vector<std::shared_ptr<TagRowData>>& rows_;
    std::optional<MatchInfo> match_;
};

// Rows of clips: tick, start, end.
class ClipTableModel : public RowTableModel {
    Q_OBJECT
public:
    ClipTableModel(const std::vector<std::shared_ptr<ClipRowData>>& rows,
                   std::vector<TableColumn> columns, QObject* parent);

protected:
    int rows() const override { return static_cast<int>(rows_.size()); }
    QVariant displayText(int row, std::string_view id) const override;

private:
    const std::vector<std::shared_ptr<ClipRowData>>& rows_;
};
