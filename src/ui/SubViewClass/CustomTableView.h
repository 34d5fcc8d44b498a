#pragma once

#include <QTableView>

class RowTableModel;

// The screens' tables: whole-row highlight and a hand cursor over rows, and
// header clicks reported by column identifier. Only a left click on a cell
// outside the check column selects a row (and is the row action), so the
// selected row is always the chosen one: right clicks, drags and keys never
// move it, and a click in the check column only ticks.
class CustomTableView : public QTableView {
    Q_OBJECT
public:
    explicit CustomTableView(QWidget* parent = nullptr);
    void setRowModel(RowTableModel* model);
    RowTableModel* rowModel() const { return model_; }
    // Row and column of the last click (-1 when it was not on a cell).
    int clickedRow() const { return clickedRow_; }
    int clickedColumn() const { return clickedColumn_; }
    int selectedRow() const;
    // Selects `row` alone (none for -1) without scrolling to it.
    void selectRowOnly(int row);
    // Shows the last row, the range already following the new row count.
    void scrollToEnd();
    // Puts the list back at `scrollValue` after its rows changed.
    void restoreScroll(int scrollValue);

signals:
    void headerClicked(int column);
    void rowClicked();
    void rowDoubleClicked();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void hoverAt(const QPoint& pos);
    void noteClick(const QMouseEvent* event);
    bool inCheckColumn(const QMouseEvent* event) const;
    RowTableModel* model_ = nullptr;
    int clickedRow_ = -1;
    int clickedColumn_ = -1;
};
