#include "app/table_view_binding.h"

#include "common/text_table.h"

#include <QHeaderView>
#include <QTreeView>

void BindTableView(QTreeView* view, TextTable* table) {
    view->setModel(table);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
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
