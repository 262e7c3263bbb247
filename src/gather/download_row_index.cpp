#include "gather/download_row_index.h"

#include "common/text_table.h"
#include "gather/download_table.h"

#include <bit>

bool IsPassCandidate(const QString& status) {
    const QString head = status.left(4).toLower();
    return head == QLatin1String("idle") || head == QLatin1String("erro") || status.startsWith(QLatin1String("Too slow: "));
}

DownloadRowIndex::DownloadRowIndex(const TextTable& table) : m_table(table) {
    QObject::connect(&table, &QAbstractItemModel::dataChanged, &m_context,
                     [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                         const auto covers = [&](int column) {
                             return topLeft.column() <= column && column <= bottomRight.column();
                         };
                         if (covers(DownloadColumn::Status) || covers(DownloadColumn::CrcOk))
                             for (int row = topLeft.row(); row <= bottomRight.row(); ++row)
                                 reclassify(row);
                     });
    QObject::connect(&table, &QAbstractItemModel::rowsInserted, &m_context, [this](const QModelIndex&, int first, int last) {
        if (first == static_cast<int>(m_flags.size()))
            appendRows(first, last);
        else
            rebuild();
    });
    QObject::connect(&table, &QAbstractItemModel::rowsRemoved, &m_context, [this] { rebuild(); });
    QObject::connect(&table, &QAbstractItemModel::modelReset, &m_context, [this] { rebuild(); });
    rebuild();
}

void DownloadRowIndex::rebuild() {
    m_flags.assign(m_table.rows(), 0);
    m_candidates.assign((m_flags.size() + 63) / 64, 0);
    m_lowest = 0;
    m_done = m_good = 0;
    for (int row = 0; row < m_table.rows(); ++row)
        reclassify(row);
}

void DownloadRowIndex::appendRows(int first, int last) {
    m_flags.resize(last + 1, 0);
    m_candidates.resize((m_flags.size() + 63) / 64, 0);
    for (int row = first; row <= last; ++row)
        reclassify(row);
}

void DownloadRowIndex::reclassify(int row) {
    if (row < 0 || row >= static_cast<int>(m_flags.size()))
        return;
    const QString status = m_table.cell(row, DownloadColumn::Status);
    const quint8 flags = (IsPassCandidate(status) ? Candidate : 0) | (status == QLatin1String("Done.") ? Done : 0) |
                         (m_table.cell(row, DownloadColumn::CrcOk) == QLatin1String("G") ? Good : 0);
    const quint8 was = m_flags[row];
    m_done += ((flags & Done) != 0) - ((was & Done) != 0);
    m_good += ((flags & Good) != 0) - ((was & Good) != 0);
    m_flags[row] = flags;
    setCandidate(row, flags & Candidate);
}

void DownloadRowIndex::setCandidate(int row, bool on) {
    const quint64 bit = quint64(1) << (row % 64);
    if (on) {
        m_candidates[row / 64] |= bit;
        m_lowest = std::min(m_lowest, row);
    } else {
        m_candidates[row / 64] &= ~bit;
    }
}

int DownloadRowIndex::nextCandidate(int from) {
    const int rows = static_cast<int>(m_flags.size());
    // What a search from the lowest candidate on finds becomes the new lowest, so the
    // rows a gather has finished are not looked at again.
    const bool fromLowest = from <= m_lowest;
    from = std::max(from, m_lowest);
    int found = -1;
    for (size_t word = size_t(from) / 64; from < rows && word < m_candidates.size(); ++word) {
        quint64 bits = m_candidates[word];
        if (word == size_t(from) / 64)
            bits &= ~quint64(0) << (from % 64);
        if (bits != 0) {
            found = static_cast<int>(word * 64) + std::countr_zero(bits);
            break;
        }
    }
    if (fromLowest)
        m_lowest = found < 0 ? rows : found;
    return found;
}
