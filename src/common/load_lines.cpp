#include "common/load_lines.h"

#include "common/text_log.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <cstring>

namespace {

constexpr qint64 kEventSliceMs = 5;

QString lineText(const char* start, qint64 length) {
    const void* zero = std::memchr(start, 0, static_cast<size_t>(length));
    if (zero)
        length = static_cast<const char*>(zero) - start;
    return QString::fromUtf8(start, length);
}

}  // namespace

void LoadLinesFromStream(const char* data, qint64 size, TextLog& log) {
    if (!data || size <= 0)
        return;
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    qint64 pos = 0;
    while (pos < size) {
        qint64 end = pos;
        while (end < size && data[end] != '\r' && data[end] != '\n')
            ++end;
        log.append(lineText(data + pos, end - pos));
        pos = end;
        if (pos < size) {
            const bool crLf = data[pos] == '\r' && pos + 1 < size && data[pos + 1] == '\n';
            pos += crLf ? 2 : 1;
        }
        if (sinceEvents.elapsed() >= kEventSliceMs) {
            QCoreApplication::processEvents();
            sinceEvents.restart();
        }
    }
}
