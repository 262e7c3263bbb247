#pragma once

#include <QList>

class QAbstractItemModel;
class QTreeView;
class TextTable;

// Shows a text table in a report-style view: one column per table column with the
// table's width; a width of 0 hides the column (it keeps its data), a negative width
// leaves the view's default. `shown`, when given, is what the view shows instead: a
// proxy with the table's rows and columns, such as one that lets rows be dragged.
void BindTableView(QTreeView* view, TextTable* table, QAbstractItemModel* shown = nullptr);

// The selected rows of a view, ascending, each once.
QList<int> SelectedRows(const QTreeView* view);
// The first selected row, -1 when none is.
int SelectedRow(const QTreeView* view);
