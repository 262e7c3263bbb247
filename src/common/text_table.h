#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

// One column of a text table. A width of 0 makes it a hidden data column: it holds
// state but no view shows it; a negative width leaves the view's default width.
struct TextColumn {
    QString caption;
    int width = 0;
};

// A table of text cells, the form in which the window keeps its working data (the
// download table, the upload table, the site list). Rows are addressed from 0; cell 0
// of a row is its caption. The engine changes cells, views only show them.
class TextTable : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TextTable(QList<TextColumn> columns, QObject* parent = nullptr);

    const QList<TextColumn>& columns() const { return m_columns; }
    int rows() const { return static_cast<int>(m_rows.size()); }

    // Adds a row at the end; missing cells are empty, extra ones are dropped.
    // Returns the new row's index.
    int addRow(const QStringList& cells);
    void removeRow(int row);
    void clear();

    // Reading a cell outside the table gives an empty text.
    QString cell(int row, int column) const;
    // Writing a cell outside the table is a programming error (asserted) and ignored.
    void setCell(int row, int column, const QString& text);
    QStringList rowCells(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QList<TextColumn> m_columns;
    QList<QStringList> m_rows;
};
