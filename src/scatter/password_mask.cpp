#include "scatter/password_mask.h"

QString MaskPassword(const QString& line, const QString& password) {
    if (line.startsWith(QLatin1String("> PASS ")))
        return QStringLiteral("> PASS ****");
    if (password.size() < 6)
        return line;
    QString masked = line;
    return masked.replace(password, QStringLiteral("****"));
}
