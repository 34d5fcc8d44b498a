#include "SubViewClass/CustomTableView.h"

#include <QHeaderView>
#include <QMouseEvent>

#include "SubViewClass/TableModels.h"

CustomTableView::CustomTableView(QWidget* parent) : QTableView(parent) {
    setMouseTracking(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    verticalHeader()->hide();
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this,
            &CustomTableView::headerClicked);
}

void CustomTableView::setRowModel(RowTableModel* model) {
    model_ = model;
    setModel(model);
}

int CustomTableView::selectedRow() const {
    const QModelIndexList rows =
        selectionModel() ? selectionModel()->selectedRows() : QModelIndexList();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void CustomTableView::selectRowOnly(int row) {
    if (row >= 0 && row < model()->rowCount())
        selectRow(row);
}

void CustomTableView::hoverAt(const QPoint& pos) {
    const int row = indexAt(pos).row();
    if (model_ && model_->hoverColor.isValid()) {
        model_->setHoverRow(row);
        viewport()->setCursor(row >= 0 ? Qt::PointingHandCursor : Qt::ArrowCursor);
    }
}

void CustomTableView::mouseMoveEvent(QMouseEvent* event) {
    hoverAt(event->position().toPoint());
    QTableView::mouseMoveEvent(event);
}

void CustomTableView::leaveEvent(QEvent* event) {
    if (model_ && model_->hoverColor.isValid()) {
        model_->setHoverRow(-1);
        viewport()->setCursor(Qt::ArrowCursor);
    }
    QTableView::leaveEvent(event);
}

void CustomTableView::noteClick(const QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    clickedRow_ = index.isValid() ? index.row() : -1;
    clickedColumn_ = index.isValid() ? index.column() : -1;
}

void CustomTableView::mousePressEvent(QMouseEvent* event) {
    noteClick(event);
    QTableView::mousePressEvent(event);
    if (event->button() == Qt::LeftButton)
        emit rowClicked();
}

void CustomTableView::mouseDoubleClickEvent(QMouseEvent* event) {
    noteClick(event);
    QTableView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit rowDoubleClicked();
}
