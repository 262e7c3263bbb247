#pragma once

#include <QtGlobal>

// part * 100 / whole, truncated, for a positive whole: exact for any 64-bit counts (the
// product needs more than 64 bits), so a part just short of the whole never shows 100.
qint64 WholePercent(qint64 part, qint64 whole);
