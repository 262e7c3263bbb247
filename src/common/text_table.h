#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>
#include <functional>
#include <vector>

// One column of a text table. A width of 0 makes it a hidden data column: it holds
// state but no view shows it; a negative width leaves the view's default width.
struct TextColumn {
    QString caption;
    int width = 0;
};

// The text of one cell in 8 bytes. Most cells of a table hold a few characters ("Idle",
// "?", "Y", "0", "Done.", a count): up to 7 Latin-1 characters are kept in the cell
// itself; a longer text lies on the heap, one byte a character where Latin-1 holds it
// (a URL), two otherwise. A download table of 100 000 rows so costs a few MiB, not the
// hundreds that a string object per cell would. Any text reads back exactly as written.
class TextCell {
public:
    TextCell() = default;
    // Throws std::bad_alloc when a long text finds no memory.
    explicit TextCell(const QString& text);
    ~TextCell();
    TextCell(TextCell&& other) noexcept : m_bits(other.m_bits) { other.m_bits = EmptyBits; }
    TextCell& operator=(TextCell&& other) noexcept;
    TextCell(const TextCell&) = delete;
    TextCell& operator=(const TextCell&) = delete;

    QString text() const;
    bool holds(const QString& text) const;

private:
    // Bit 0 set: the text is inline, bits 1..3 its length, bytes 1..7 its characters.
    // Clear: a pointer to the heap block (malloc aligns it, so bit 0 is free).
    static constexpr quint64 EmptyBits = 1;
    bool isInline() const { return (m_bits & 1) != 0; }
    static bool fitsInline(const QString& text, quint64& bits);

    quint64 m_bits = EmptyBits;
};

// A table of text cells, the form in which the window keeps its working data (the
// download table, the upload table, the site list). Rows are addressed from 0; cell 0
// of a row is its caption. The engine changes cells, views only show them.
class TextTable : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TextTable(QList<TextColumn> columns, QObject* parent = nullptr);

    const QList<TextColumn>& columns() const { return m_columns; }
    int rows() const { return m_rows; }

    // Adds a row at the end; missing cells are empty, extra ones are dropped.
    // Returns the new row's index.
    int addRow(const QStringList& cells);
    void removeRow(int row);
    void clear();
    // Replaces every row with `rows` new ones whose cells `cellText` gives, as one reset
    // of the model (a view redraws once, not once per row). Throws std::bad_alloc when
    // memory runs out; the table is then as it was.
    void fill(int rows, const std::function<QString(int row, int column)>& cellText);

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
    bool inside(int row, int column) const { return row >= 0 && row < m_rows && column >= 0 && column < columnsCount(); }
    int columnsCount() const { return static_cast<int>(m_columns.size()); }
    const TextCell& at(int row, int column) const { return m_cells[size_t(row) * columnsCount() + column]; }

    QList<TextColumn> m_columns;
    // Row after row, each of columnsCount() cells.
    std::vector<TextCell> m_cells;
    int m_rows = 0;
};
