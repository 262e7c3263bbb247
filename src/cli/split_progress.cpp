#include "cli/split_progress.h"

SplitProgress SplitProgressOn(ProgressLine& line, int parts) {
    if (!line.active())
        return {};
    return [&line, parts](qint64 done, qint64 total, int part) {
        line.setTotal(total);
        line.update(done, QStringLiteral("part %1/%2").arg(part).arg(parts));
    };
}
