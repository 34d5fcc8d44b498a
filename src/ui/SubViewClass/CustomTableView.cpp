#include "SubViewClass/CustomTableView.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>

#include "tags/TableModels.h"

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
    if (!selectionModel())
        return;
    if (row < 0 || row >= model()->rowCount()) {
        selectionModel()->clearSelection();
        return;
    }
    // Not through the current index: that would scroll the row into view.
    selectionModel()->select(model()->index(row, 0),
                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void CustomTableView::restoreScroll(int scrollValue) {
    // The range follows the new row count only once laid out; a reset that
    // has not narrowed the range has not moved the bar.
    if (verticalScrollBar()->value() != scrollValue) {
        updateGeometries();
        verticalScrollBar()->setValue(scrollValue);
    }
}

void CustomTableView::scrollToEnd() {
    updateGeometries();
    scrollToBottom();
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
    // A drag would carry the selection along without the row action.
    if (event->buttons() == Qt::NoButton)
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

bool CustomTableView::inCheckColumn(const QMouseEvent* event) const {
    const QModelIndex index = indexAt(event->position().toPoint());
    return index.isValid() && (model()->flags(index) & Qt::ItemIsUserCheckable);
}

void CustomTableView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    noteClick(event);
    if (inCheckColumn(event)) {
        // Anywhere in the cell ticks; the selection stays.
        if (model_)
            model_->setTicked(clickedRow_, !model_->isTicked(clickedRow_));
    } else if (clickedRow_ >= 0) {
        QTableView::mousePressEvent(event);
    }
    emit rowClicked();
}

void CustomTableView::mouseReleaseEvent(QMouseEvent* event) {
    // The item delegate would tick the box a second time, and a release on
    // another row would select that row without the row action.
    if (event->button() != Qt::LeftButton || inCheckColumn(event) || clickedRow_ < 0 ||
        indexAt(event->position().toPoint()).row() != clickedRow_) {
        event->accept();
        return;
    }
    QTableView::mouseReleaseEvent(event);
}

void CustomTableView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    if (inCheckColumn(event)) {
        mousePressEvent(event); // the second click ticks again
        return;
    }
    noteClick(event);
    if (clickedRow_ >= 0)
        QTableView::mouseDoubleClickEvent(event);
    emit rowDoubleClicked();
}
