#include "ColumnFit.h"

#include <QHeaderView>
#include <QTableView>

void fitColumnsToContents(QTableView* view, int minimumWidth)
{
    const QHeaderView* header = view->horizontalHeader();
    int columns = header->count();
    if (header->stretchLastSection())
        --columns;
    const int widest = std::max(view->viewport()->width() * 2 / 5, minimumWidth);
    for (int column = 0; column < columns; ++column) {
        view->resizeColumnToContents(column);
        view->setColumnWidth(column, std::clamp(view->columnWidth(column), minimumWidth, widest));
    }
}
