#include "common/text_table.h"

TextTable::TextTable(QList<TextColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), m_columns(std::move(columns)) {}

int TextTable::addRow(const QStringList& cells) {
    QStringList row = cells.mid(0, m_columns.size());
    while (row.size() < m_columns.size())
        row.append(QString());
    const int index = rows();
    beginInsertRows(QModelIndex(), index, index);
    m_rows.append(row);
    endInsertRows();
    return index;
}

void TextTable::removeRow(int row) {
    if (row < 0 || row >= rows())
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_rows.removeAt(row);
    endRemoveRows();
}

void TextTable::clear() {
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

QString TextTable::cell(int row, int column) const {
    if (row < 0 || row >= rows() || column < 0 || column >= m_columns.size())
        return QString();
    return m_rows[row][column];
}

void TextTable::setCell(int row, int column, const QString& text) {
    Q_ASSERT(row >= 0 && row < rows() && column >= 0 && column < m_columns.size());
    if (row < 0 || row >= rows() || column < 0 || column >= m_columns.size())
        return;
    QString& current = m_rows[row][column];
    // A download updates its counters many times a second; unchanged cells cost no
    // repaint.
    if (current == text)
        return;
    current = text;
    const QModelIndex changed = index(row, column);
    emit dataChanged(changed, changed, {Qt::DisplayRole});
}

QStringList TextTable::rowCells(int row) const {
    if (row < 0 || row >= rows())
        return QStringList();
    return m_rows[row];
}

int TextTable::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows();
}

int TextTable::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

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
