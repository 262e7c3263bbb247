#include "common/path_rules.h"

bool IsPlainFileName(const QString& name) {
    if (name.isEmpty() || name == "." || name == "..")
        return false;
    for (const QChar c : name)
        if (c == '/' || c == '\\' || c == QChar(0))
            return false;
    return true;
}

QString VisibleName(const QString& name) {
    QString shown;
    shown.reserve(name.size());
    for (const QChar c : name) {
        if (c == QChar(0))
            shown += "\\0";
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            shown += QString("\\x%1").arg(c.unicode(), 2, 16, QChar('0'));
        else
            shown += c;
    }
    return shown;
}
