#include "gather/download_table.h"

#include "gather/manifest_parts.h"

QList<TextColumn> DownloadTableColumns() {
    return {{"Filename", 310}, {"Status", 70}, {"CRCPWQ", 0},   {"Size", 0},       {"CRC OK", 0},
            {"Size OK", 0},    {"Recvd", 0},   {"LRcvd", 0},    {"Idle (s)", 50},  {"Code", 50},
            {"Content", 0},    {"Part Size", 70}, {"Attempts", 60}};
}

QStringList DownloadRowCells(const ManifestPart& part) {
    QStringList cells(DownloadColumn::Count);
    cells[DownloadColumn::Filename] = part.url;
    cells[DownloadColumn::Status] = "Idle";
    cells[DownloadColumn::CrcPwq] = part.crc;
    cells[DownloadColumn::Size] = "?";
    cells[DownloadColumn::CrcOk] = "Y";
    cells[DownloadColumn::SizeOk] = "Y";
    cells[DownloadColumn::Recvd] = "0";
    cells[DownloadColumn::LRcvd] = "0";
    cells[DownloadColumn::IdleSeconds] = "0";
    cells[DownloadColumn::Code] = "?";
    cells[DownloadColumn::Content] = "?";
    cells[DownloadColumn::PartSize] = part.size;
    cells[DownloadColumn::Attempts] = "0";
    return cells;
}

void FillDownloadTable(TextTable& table, const QList<ManifestPart>& parts) {
    table.clear();
    for (const ManifestPart& part : parts)
        table.addRow(DownloadRowCells(part));
}

int CompletionPercentage(const TextTable& table) {
    const qint64 rows = table.rows();
    if (rows == 0)
        return 0;
    qint64 good = 0;
    for (int r = 0; r < table.rows(); ++r)
        if (table.cell(r, DownloadColumn::CrcOk) == "G")
            ++good;
    return static_cast<int>(good * 100 / rows);
}
