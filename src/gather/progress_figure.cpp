#include "gather/progress_figure.h"

QString ProgressFigure(qint64 received, const QString& sizeCell) {
    bool isNumber = false;
    const qint64 size = sizeCell.toLongLong(&isNumber);
    if (!isNumber || size <= 0)
        return QString::number(received);
    // The product of two 64-bit counts needs more than 64 bits.
    __extension__ using Wide = __int128;
    return QString::number(static_cast<qint64>(Wide(received) * 100 / size)) + '%';
}
