#include "gather/download_table.h"

#include "common/manifest_format.h"
#include "common/whole_percent.h"
#include "gather/manifest_parts.h"

namespace {

// The cell of a fresh row in `column`; field(0), field(1) and field(2) give the entry's
// URL, size and CRC lines.
template <class Field>
QString FreshCell(int column, const Field& field) {
    switch (column) {
    case DownloadColumn::Filename: return field(0);
    case DownloadColumn::PartSize: return field(1);
    case DownloadColumn::CrcPwq: return field(2);
    case DownloadColumn::Status: return QStringLiteral("Idle");
    case DownloadColumn::Size:
    case DownloadColumn::Code:
    case DownloadColumn::Content: return QStringLiteral("?");
    case DownloadColumn::CrcOk:
    case DownloadColumn::SizeOk: return QStringLiteral("Y");
    default: return QStringLiteral("0");  // Recvd, LRcvd, Idle (s), Attempts
    }
}

QString PartField(const ManifestPart& part, int field) { return field == 0 ? part.url : field == 1 ? part.size : part.crc; }

}  // namespace

QList<TextColumn> DownloadTableColumns() {
    return {{"Filename", 310}, {"Status", 70}, {"CRCPWQ", 0},   {"Size", 0},       {"CRC OK", 0},
            {"Size OK", 0},    {"Recvd", 0},   {"LRcvd", 0},    {"Idle (s)", 50},  {"Code", 50},
            {"Content", 0},    {"Part Size", 70}, {"Attempts", 60}};
}

QStringList DownloadRowCells(const ManifestPart& part) {
    QStringList cells;
    for (int c = 0; c < DownloadColumn::Count; ++c)
        cells.append(FreshCell(c, [&](int field) { return PartField(part, field); }));
    return cells;
}

void FillDownloadTable(TextTable& table, const QList<ManifestPart>& parts) {
    table.fill(static_cast<int>(parts.size()), [&](int row, int column) {
        return FreshCell(column, [&](int field) { return PartField(parts[row], field); });
    });
}

void FillDownloadTable(TextTable& table, const ManifestLines& lines) {
    table.fill(ManifestPartCount(lines), [&](int row, int column) {
        return FreshCell(column, [&](int field) { return lines.line(ManifestPartLine(row, field)); });
    });
}

int CompletionPercentage(qint64 goodRows, qint64 rows) {
    return rows == 0 ? 0 : static_cast<int>(WholePercent(goodRows, rows));
}

int CompletionPercentage(const TextTable& table) {
    qint64 good = 0;
    for (int r = 0; r < table.rows(); ++r)
        if (table.cell(r, DownloadColumn::CrcOk) == QLatin1String("G"))
            ++good;
    return CompletionPercentage(good, table.rows());
}
