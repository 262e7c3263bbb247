#include "ftp/password_mask.h"

namespace {

const QString kMask = QStringLiteral("****");

// Beyond this length the password is no ordinary text of a line.
constexpr qsizetype kMaskedAnywhere = 6;

bool isWordChar(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_'); }

}  // namespace

QString MaskPassword(const QString& line, const QString& password) {
    if (line.startsWith(QLatin1String("> PASS ")))
        return QStringLiteral("> PASS ****");
    if (password.isEmpty())
        return line;
    if (password.size() >= kMaskedAnywhere) {
        QString masked = line;
        return masked.replace(password, kMask);
    }
    // An edge of the password that is a word character must meet a non-word character
    // (or the line's end) to stand as a whole; one that is not a word character is an
    // edge by itself.
    const bool wordStart = isWordChar(password.front());
    const bool wordEnd = isWordChar(password.back());
    QString masked;
    qsizetype copied = 0;
    for (qsizetype at = line.indexOf(password); at >= 0;) {
        const qsizetype end = at + password.size();
        const bool whole = (!wordStart || at == 0 || !isWordChar(line[at - 1])) &&
                           (!wordEnd || end == line.size() || !isWordChar(line[end]));
        if (whole) {
            masked += QStringView(line).mid(copied, at - copied);
            masked += kMask;
            copied = end;
        }
        at = line.indexOf(password, whole ? end : at + 1);
    }
    if (copied == 0)
        return line;
    masked += QStringView(line).mid(copied);
    return masked;
}
