#include "scatter/upload_table.h"

#include "common/whole_percent.h"

QList<TextColumn> UploadTableColumns() {
    // The Status column has the view's default width.
    return {{"Filename", 250}, {"Site", 186}, {"Size", 0},     {"CRC", 0},     {"ftpsite", 0},
            {"username", 0},   {"password", 0}, {"Progress", 60}, {"Status", -1}};
}

QString UploadPercent(qint64 sent, qint64 size) {
    return QString::number(size <= 0 ? 100 : WholePercent(sent, size)) + '%';
}
