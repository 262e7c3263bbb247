#include "ftp/ftp_reply.h"

#include "common/path_rules.h"

#include <QStringList>

#include <cstring>

namespace {

// A server may send any number of digits; the value stops growing here instead of
// overflowing.
constexpr qint64 kNumberCeiling = 999999999999999999LL;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the digits from pos on; pos ends behind them.
qint64 digitsAt(const QByteArray& text, qsizetype& pos) {
    qint64 value = 0;
    for (; pos < text.size() && isDigit(text[pos]); ++pos)
        value = value >= kNumberCeiling / 10 ? kNumberCeiling : value * 10 + (text[pos] - '0');
    return value;
}

// The component's number scan: blanks and line ends skipped, one optional sign, digits.
qint64 scanNumber(const QByteArray& text, qsizetype& pos) {
    while (pos < text.size() && std::strchr(" \t\r\n", text[pos]) && text[pos] != '\0')
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
        negative = text[pos++] == '-';
    const qint64 value = digitsAt(text, pos);
    return negative ? -value : value;
}

}  // namespace

void FtpReplyReader::commit(qint64 count) {
    if (count > 0)
        m_fill += qMin(count, room());
}

std::optional<QByteArray> FtpReplyReader::takeLine(bool acceptLF) {
    qint64 end = -1;  // index of the line end's first byte
    qint64 endLength = 0;
    // A CR at the end of what was searched may be the first half of a CR LF.
    for (qint64 i = qMax<qint64>(0, m_scanned - 1); i < m_fill; ++i) {
        if (acceptLF && m_data[i] == '\n') {
            end = i;
            endLength = 1;
            break;
        }
        if (!acceptLF && m_data[i] == '\r' && i + 1 < m_fill && m_data[i + 1] == '\n') {
            end = i;
            endLength = 2;
            break;
        }
    }
    if (end < 0) {
        m_scanned = m_fill;
        return std::nullopt;
    }
    m_scanned = 0;
    qint64 length = end;
    while (length > 0 && (m_data[length - 1] == '\r' || m_data[length - 1] == '\n'))
        --length;
    QByteArray line(m_data, length);
    const qint64 used = end + endLength;
    std::memmove(m_data, m_data + used, size_t(m_fill - used));
    m_fill -= used;
    return line;
}

QString FtpReplyText(const QByteArray& line) {
    // Tabs are ordinary text of a reply (lists, help texts).
    QStringList pieces = QString::fromUtf8(line).split(QLatin1Char('\t'));
    for (QString& piece : pieces)
        piece = VisibleName(piece);
    return pieces.join(QLatin1Char('\t'));
}

FtpReplyCode ScanFtpReplyCode(const QByteArray& line) {
    FtpReplyCode r;
    if (line.isEmpty() || !isDigit(line[0]))
        return r;
    qsizetype pos = 0;
    const qint64 value = digitsAt(line, pos);
    r.numbered = true;
    r.code = int(qMin<qint64>(value, 999999999));
    r.final = !(pos < line.size() && line[pos] == '-');
    return r;
}

qint64 FtpReplyNumber(const QByteArray& line) {
    qsizetype pos = 0;
    scanNumber(line, pos);  // the code
    return scanNumber(line, pos);
}

QByteArray FtpReplyQuotedPath(const QByteArray& line) {
    qsizetype pos = 0;
    digitsAt(line, pos);
    while (pos < line.size() && line[pos] == ' ')
        ++pos;
    if (pos >= line.size() || line[pos] != '"')
        return {};
    QByteArray path;
    for (++pos; pos < line.size(); ++pos) {
        if (line[pos] == '"') {
            if (pos + 1 < line.size() && line[pos + 1] == '"') {
                path += '"';
                ++pos;
                continue;
            }
            break;
        }
        path += line[pos];
    }
    return path;
}

std::optional<quint16> FtpExtendedPassivePort(const QByteArray& line) {
    const qsizetype open = line.indexOf('(');
    if (open < 0 || open + 4 >= line.size())
        return std::nullopt;
    const char delimiter = line[open + 1];
    if (isDigit(delimiter) || line[open + 2] != delimiter || line[open + 3] != delimiter)
        return std::nullopt;
    qsizetype pos = open + 4;
    const qsizetype start = pos;
    const qint64 port = digitsAt(line, pos);
    if (pos == start || pos >= line.size() || line[pos] != delimiter || port < 1 || port > 65535)
        return std::nullopt;
    return quint16(port);
}

std::optional<quint16> FtpPassivePort(const QByteArray& line) {
    // The six numbers start at the first digit after the code.
    qsizetype pos = 0;
    digitsAt(line, pos);
    while (pos < line.size() && !isDigit(line[pos]))
        ++pos;
    qint64 numbers[6];
    for (int i = 0; i < 6; ++i) {
        const qsizetype start = pos;
        numbers[i] = digitsAt(line, pos);
        if (pos == start || numbers[i] > 255)
            return std::nullopt;
        if (i < 5) {
            if (pos >= line.size() || line[pos] != ',')
                return std::nullopt;
            ++pos;
        }
    }
    const qint64 port = numbers[4] * 256 + numbers[5];
    if (port == 0)
        return std::nullopt;
    return quint16(port);
}

QString FtpTransferStatistics(qint64 count, qint64 elapsedMs) {
    QString text = QStringLiteral("! %1 bytes received/sent in %2 seconds").arg(count).arg(elapsedMs / 1000);
    if (elapsedMs != 0) {
        // The rate is rounded this way for larger counts: the user's logs are compared
        // line by line with those of other installations.
        const qint64 rate = count <= 32767 ? count * 1000 / elapsedMs : (count / elapsedMs) * 1000;
        text += QStringLiteral(" (%1 Bytes/sec)").arg(rate);
    }
    return text;
}
