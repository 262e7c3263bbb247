#include "http/http_response_parser.h"

#include <QList>

#include <cstring>
#include <limits>

void HttpLineBuffer::commit(qint64 count) {
    Q_ASSERT(count >= 0 && count <= room());
    m_fill += count;
}

qint64 HttpLineBuffer::append(const char* data, qint64 count) {
    const qint64 taken = qMin(count, room());
    if (taken > 0) {
        std::memcpy(m_data + m_fill, data, size_t(taken));
        m_fill += taken;
    }
    return taken;
}

std::optional<QByteArray> HttpLineBuffer::takeLine(QByteArray* ending) {
    const void* found = std::memchr(m_data + m_scanned, '\n', size_t(m_fill - m_scanned));
    if (!found) {
        m_scanned = m_fill;
        return std::nullopt;
    }
    const qint64 lf = static_cast<const char*>(found) - m_data;
    qint64 length = lf;
    if (length > 0 && m_data[length - 1] == '\r')
        --length;
    QByteArray line(m_data, length);
    if (ending)
        *ending = QByteArray(m_data + length, lf + 1 - length);
    m_fill -= lf + 1;
    std::memmove(m_data, m_data + lf + 1, size_t(m_fill));
    m_scanned = 0;
    return line;
}

QByteArray HttpLineBuffer::takeAll() {
    QByteArray all(m_data, m_fill);
    clear();
    return all;
}

namespace {

bool startsWithHtmlTag(const QByteArray& line) {
    return line.size() >= 6 && line.left(6).toUpper() == "<HTML>";
}

bool allDigits(const QByteArray& text) {
    if (text.isEmpty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// A plain decimal count from 0 to 2^63-1.
std::optional<qint64> decimalCount(const QByteArray& digits) {
    if (!allDigits(digits))
        return std::nullopt;
    qint64 count = 0;
    for (char c : digits) {
        const int digit = c - '0';
        if (count > (std::numeric_limits<qint64>::max() - digit) / 10)
            return std::nullopt;
        count = count * 10 + digit;
    }
    return count;
}

}  // namespace

HttpHeaderLine ParseHttpHeaderLine(const QByteArray& line) {
    HttpHeaderLine out;
    // Checked before the empty line and the status line: some servers answer a request
    // with a bare page, and its first line then stands where the status line would.
    if (startsWithHtmlTag(line)) {
        out.kind = HttpHeaderLine::Html;
        return out;
    }
    if (line.isEmpty()) {
        out.kind = HttpHeaderLine::End;
        return out;
    }
    if (line.startsWith("HTTP/1.0") || line.startsWith("HTTP/1.1")) {
        out.kind = HttpHeaderLine::Status;
        const QByteArray code = line.mid(9, 3);
        if (code.size() == 3 && allDigits(code))
            out.statusCode = code.toInt();
        out.reason = line.mid(13);
        return out;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return out;
    out.kind = HttpHeaderLine::Field;
    out.name = line.left(colon).toLower();
    qsizetype start = colon + 1;
    while (start < line.size() && (line.at(start) == ' ' || line.at(start) == '\t'))
        ++start;
    out.value = line.mid(start);
    return out;
}

std::optional<qint64> ParseContentLength(const QByteArray& value) {
    std::optional<qint64> length;
    for (const QByteArray& item : value.split(',')) {
        const std::optional<qint64> count = decimalCount(item.trimmed());
        if (!count || (length && *length != *count))
            return std::nullopt;
        length = count;
    }
    return length;
}

bool IsChunkedTransferEncoding(const QByteArray& value) {
    const QByteArray last = value.mid(value.lastIndexOf(',') + 1).trimmed();
    return last.compare("chunked", Qt::CaseInsensitive) == 0;
}

HttpContentRange ParseContentRange(const QByteArray& value) {
    // "bytes 100-199/500": the unit and its blank are the first six characters.
    HttpContentRange out;
    const qsizetype dash = value.indexOf('-');
    if (dash >= 6)
        out.begin = value.mid(6, dash - 6);
    if (dash >= 0) {
        const qsizetype slash = value.indexOf('/', dash + 1);
        if (slash >= 0)
            out.end = value.mid(dash + 1, slash - dash - 1);
    }
    return out;
}

std::optional<HttpByteRange> ParseByteContentRange(const QByteArray& value) {
    const QByteArray text = value.trimmed();
    if (text.size() < 6 || text.left(6).toLower() != "bytes ")
        return std::nullopt;
    const QByteArray range = text.mid(6);
    const qsizetype dash = range.indexOf('-');
    const qsizetype slash = range.indexOf('/');
    if (dash < 0 || slash < dash)
        return std::nullopt;
    const std::optional<qint64> first = decimalCount(range.left(dash));
    const std::optional<qint64> last = decimalCount(range.mid(dash + 1, slash - dash - 1));
    const std::optional<qint64> total = decimalCount(range.mid(slash + 1));
    if (!first || !last || !total || *first > *last || *last >= *total)
        return std::nullopt;
    return HttpByteRange{*first, *last, *total};
}
