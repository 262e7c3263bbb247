#pragma once

class QTreeView;
class TextTable;

// Shows a text table in a report-style view: one column per table column with the
// table's width; a width of 0 hides the column (it keeps its data), a negative width
// leaves the view's default.
void BindTableView(QTreeView* view, TextTable* table);
