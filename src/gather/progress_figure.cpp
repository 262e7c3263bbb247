#include "gather/progress_figure.h"

#include "common/whole_percent.h"

QString ProgressFigure(qint64 received, const QString& sizeCell) {
    bool isNumber = false;
    const qint64 size = sizeCell.toLongLong(&isNumber);
    if (!isNumber || size <= 0)
        return QString::number(received);
    return QString::number(WholePercent(received, size)) + '%';
}
