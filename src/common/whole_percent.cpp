#include "common/whole_percent.h"

qint64 WholePercent(qint64 part, qint64 whole) {
    __extension__ using Wide = __int128;
    return static_cast<qint64>(Wide(part) * 100 / whole);
}
