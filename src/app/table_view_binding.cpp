#include "app/table_view_binding.h"

#include "common/text_table.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTreeView>
#include <algorithm>

void BindTableView(QTreeView* view, TextTable* table, QAbstractItemModel* shown) {
    view->setModel(shown ? shown : table);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    // Part paths and URLs share their start and differ at the end (movie1.bin,
    // movie2.bin): a cut in the middle keeps the part that tells the rows apart.
    view->setTextElideMode(Qt::ElideMiddle);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->header()->setStretchLastSection(false);
    const QList<TextColumn>& columns = table->columns();
    for (int c = 0; c < columns.size(); ++c) {
        const int width = columns[c].width;
        view->setColumnHidden(c, width == 0);
        if (width > 0)
            view->setColumnWidth(c, width);
    }
}

QList<int> SelectedRows(const QTreeView* view) {
    QList<int> rows;
    if (!view->selectionModel())
        return rows;
    // Any selected cell counts: a row is selected whatever columns are hidden.
    for (const QModelIndex& index : view->selectionModel()->selection().indexes())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

int SelectedRow(const QTreeView* view) {
    const QList<int> rows = SelectedRows(view);
    return rows.isEmpty() ? -1 : rows.first();
}
