#include "common/text_table.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// A long text on the heap: this header, then its characters, one byte each where
// Latin-1 holds them all, else UTF-16.
struct LongText {
    qsizetype size;
    bool wide;

    char* chars() { return reinterpret_cast<char*>(this) + sizeof(LongText); }
    const char* chars() const { return reinterpret_cast<const char*>(this) + sizeof(LongText); }

    static LongText* make(const QString& text) {
        bool latin1 = true;
        for (const QChar c : text)
            latin1 = latin1 && c.unicode() < 0x100;
        const size_t bytes = size_t(text.size()) * (latin1 ? 1 : 2);
        void* memory = std::malloc(sizeof(LongText) + bytes);
        if (!memory)
            throw std::bad_alloc();
        auto* block = new (memory) LongText{text.size(), !latin1};
        if (latin1) {
            for (qsizetype i = 0; i < text.size(); ++i)
                block->chars()[i] = static_cast<char>(text[i].unicode());
        } else {
            std::memcpy(block->chars(), text.utf16(), bytes);
        }
        return block;
    }

    QString text() const {
        return wide ? QString(reinterpret_cast<const QChar*>(chars()), size) : QString::fromLatin1(chars(), size);
    }

    bool holds(const QString& text) const {
        if (text.size() != size)
            return false;
        if (wide)
            return std::memcmp(chars(), text.utf16(), size_t(size) * 2) == 0;
        for (qsizetype i = 0; i < size; ++i)
            if (text[i].unicode() != static_cast<uchar>(chars()[i]))
                return false;
        return true;
    }
};
static_assert(sizeof(LongText) % alignof(char16_t) == 0);

}  // namespace

bool TextCell::fitsInline(const QString& text, quint64& bits) {
    if (text.size() > 7)
        return false;
    bits = 1 | quint64(text.size()) << 1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x100)
            return false;
        bits |= quint64(c) << (8 * (i + 1));
    }
    return true;
}

TextCell::TextCell(const QString& text) {
    quint64 bits = 0;
    m_bits = fitsInline(text, bits) ? bits : reinterpret_cast<quintptr>(LongText::make(text));
}

TextCell::~TextCell() {
    if (!isInline())
        std::free(reinterpret_cast<LongText*>(static_cast<quintptr>(m_bits)));
}

TextCell& TextCell::operator=(TextCell&& other) noexcept {
    if (this != &other) {
        this->~TextCell();
        m_bits = other.m_bits;
        other.m_bits = EmptyBits;
    }
    return *this;
}

QString TextCell::text() const {
    if (!isInline())
        return reinterpret_cast<const LongText*>(static_cast<quintptr>(m_bits))->text();
    const int size = int(m_bits >> 1) & 7;
    if (size == 0)
        return QString();
    QString text(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        text[i] = QChar(char16_t((m_bits >> (8 * (i + 1))) & 0xFF));
    return text;
}

bool TextCell::holds(const QString& text) const {
    quint64 bits = 0;
    if (fitsInline(text, bits))
        return bits == m_bits;
    return !isInline() && reinterpret_cast<const LongText*>(static_cast<quintptr>(m_bits))->holds(text);
}

TextTable::TextTable(QList<TextColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), m_columns(std::move(columns)) {}

int TextTable::addRow(const QStringList& cells) {
    std::vector<TextCell> row;
    row.reserve(m_columns.size());
    for (int c = 0; c < columnsCount(); ++c)
        row.emplace_back(cells.value(c));
    m_cells.reserve(m_cells.size() + row.size());
    const int index = m_rows;
    beginInsertRows(QModelIndex(), index, index);
    for (TextCell& cell : row)
        m_cells.push_back(std::move(cell));
    ++m_rows;
    endInsertRows();
    return index;
}

void TextTable::removeRow(int row) {
    if (row < 0 || row >= m_rows)
        return;
    beginRemoveRows(QModelIndex(), row, row);
    const auto first = m_cells.begin() + std::ptrdiff_t(row) * columnsCount();
    m_cells.erase(first, first + columnsCount());
    --m_rows;
    endRemoveRows();
}

void TextTable::clear() {
    if (m_rows == 0)
        return;
    beginResetModel();
    m_cells.clear();
    m_cells.shrink_to_fit();
    m_rows = 0;
    endResetModel();
}

void TextTable::fill(int rows, const std::function<QString(int row, int column)>& cellText) {
    std::vector<TextCell> cells;
    cells.reserve(size_t(rows) * columnsCount());
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columnsCount(); ++c)
            cells.emplace_back(cellText(r, c));
    beginResetModel();
    m_cells.swap(cells);
    m_rows = rows;
    endResetModel();
}

QString TextTable::cell(int row, int column) const { return inside(row, column) ? at(row, column).text() : QString(); }

void TextTable::setCell(int row, int column, const QString& text) {
    Q_ASSERT(inside(row, column));
    if (!inside(row, column))
        return;
    TextCell& current = m_cells[size_t(row) * columnsCount() + column];
    // A download updates its counters many times a second; unchanged cells cost no
    // repaint.
    if (current.holds(text))
        return;
    current = TextCell(text);
    const QModelIndex changed = index(row, column);
    emit dataChanged(changed, changed, {Qt::DisplayRole});
}

QStringList TextTable::rowCells(int row) const {
    QStringList cells;
    if (row < 0 || row >= m_rows)
        return cells;
    for (int c = 0; c < columnsCount(); ++c)
        cells.append(at(row, c).text());
    return cells;
}

int TextTable::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows(); }

int TextTable::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : columnsCount(); }

QVariant TextTable::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return QVariant();
    return cell(index.row(), index.column());
}

QVariant TextTable::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= m_columns.size())
        return QVariant();
    return m_columns[section].caption;
}
