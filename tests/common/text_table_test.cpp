#include "common/text_table.h"

#include <gtest/gtest.h>

namespace {

QList<TextColumn> threeColumns() { return {{"Name", 100}, {"Hidden", 0}, {"State", -1}}; }

TEST(TextTable, RowsArePaddedOrCutToTheColumns) {
    TextTable table(threeColumns());
    int inserted = 0;
    QObject::connect(&table, &QAbstractItemModel::rowsInserted, [&] { ++inserted; });
    EXPECT_EQ(table.addRow({"a"}), 0);
    EXPECT_EQ(table.addRow({"b", "x", "y", "extra"}), 1);
    EXPECT_EQ(inserted, 2);
    EXPECT_EQ(table.rowCells(0), QStringList({"a", "", ""}));
    EXPECT_EQ(table.rowCells(1), QStringList({"b", "x", "y"}));
    EXPECT_EQ(table.columnCount(), 3);
    EXPECT_EQ(table.headerData(1, Qt::Horizontal).toString(), "Hidden");
    EXPECT_EQ(table.data(table.index(1, 2)).toString(), "y");
    EXPECT_EQ(table.cell(5, 0), "");
    EXPECT_EQ(table.cell(0, 7), "");
}

TEST(TextTable, SetCellSignalsOnlyARealChange) {
    TextTable table(threeColumns());
    table.addRow({"a", "1", "Idle"});
    table.addRow({"b", "2", "Idle"});
    QList<QModelIndex> changed;
    QObject::connect(&table, &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& from, const QModelIndex& to) {
                         EXPECT_EQ(from, to);
                         changed << from;
                     });
    table.setCell(1, 2, "Idle");
    EXPECT_EQ(changed.size(), 0);
    table.setCell(1, 2, "Done.");
    ASSERT_EQ(changed.size(), 1);
    const QModelIndex at = changed[0];
    EXPECT_EQ(at.row(), 1);
    EXPECT_EQ(at.column(), 2);
    EXPECT_EQ(table.cell(1, 2), "Done.");
    EXPECT_EQ(table.cell(0, 2), "Idle");
}

TEST(TextTable, RemoveAndClear) {
    TextTable table(threeColumns());
    for (const char* name : {"a", "b", "c"})
        table.addRow({name});
    table.removeRow(1);
    table.removeRow(9);  // outside: nothing happens
    EXPECT_EQ(table.rows(), 2);
    EXPECT_EQ(table.cell(1, 0), "c");
    int reset = 0;
    QObject::connect(&table, &QAbstractItemModel::modelReset, [&] { ++reset; });
    table.clear();
    EXPECT_EQ(table.rowCount(), 0);
    EXPECT_EQ(reset, 1);
    table.clear();  // already empty: no second reset
    EXPECT_EQ(reset, 1);
}

}  // namespace
