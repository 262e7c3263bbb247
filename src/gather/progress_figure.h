#pragma once

#include <QString>
#include <QtGlobal>

// What the Status cell of a downloading part shows: received * 100 / size, truncated,
// followed by "%", when the Size cell holds a positive length; the byte count itself
// when the length is not known yet ("?"), is 0, or the response carried none ("-1").
// Exact for any 64-bit count and size.
QString ProgressFigure(qint64 received, const QString& sizeCell);
