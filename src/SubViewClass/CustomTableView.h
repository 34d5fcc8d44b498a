#pragma once

#include <QTableView>

class RowTableModel;

// The screens' tables: whole-row highlight and a hand cursor over rows, and
// header clicks reported by column identifier.
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
    void selectRowOnly(int row);

signals:
    void headerClicked(int column);
    void rowClicked();
    void rowDoubleClicked();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void hoverAt(const QPoint& pos);
    void noteClick(const QMouseEvent* event);
    RowTableModel* model_ = nullptr;
    int clickedRow_ = -1;
    int clickedColumn_ = -1;
};
