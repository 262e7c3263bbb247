#include "gather/manifest_text.h"

#include <QFile>
#include <new>

ManifestLines ManifestTextToLines(QByteArrayView text) {
    ManifestLines lines;
    lines.reserve(text.size());
    qsizetype start = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i <= size && lines.count() <= MaxManifestLines; ++i) {
        const bool end = i == size;
        if (!end && text[i] != '\r' && text[i] != '\n')
            continue;
        if (i > start)
            lines.appendUtf8(text.sliced(start, i - start));
        // The LF of a CR LF pair belongs to the same line end.
        if (!end && text[i] == '\r' && i + 1 < size && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    lines.squeeze();
    return lines;
}

QStringList ManifestTextLines(const QByteArray& text) { return ManifestTextToLines(text).lines(); }

namespace {

// At most the limit and one byte more, so a longer file is told apart; only as much
// memory as the file holds (a file's size may be unknown: then in steps).
QByteArray ReadBounded(QFile& file) {
    constexpr qint64 Step = 1 << 20;
    QByteArray text;
    if (file.size() > 0)
        text.reserve(std::min(file.size(), kMaxManifestBytes) + 1);
    while (text.size() <= kMaxManifestBytes) {
        const QByteArray chunk = file.read(std::min(Step, kMaxManifestBytes + 1 - text.size()));
        if (chunk.isEmpty())
            break;
        text.append(chunk);
    }
    return text;
}

}  // namespace

bool ReadManifestFile(const QString& path, ManifestLines& lines, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = "Cannot open " + path + ": " + file.errorString();
        return false;
    }
    try {
        const QByteArray text = ReadBounded(file);
        if (file.error() != QFileDevice::NoError) {
            error = "Cannot read " + path + ": " + file.errorString();
            return false;
        }
        if (text.size() > kMaxManifestBytes) {
            error = "Cannot read " + path + ": the file is too large to be a Parcelwick file.";
            return false;
        }
        const qsizetype ctrlZ = text.indexOf('\x1a');
        lines = ManifestTextToLines(QByteArrayView(text).first(ctrlZ < 0 ? text.size() : ctrlZ));
        return true;
    } catch (const std::bad_alloc&) {
        error = "Cannot read " + path + ": not enough memory to hold it.";
        return false;
    }
}

bool ReadManifestFile(const QString& path, QStringList& lines, QString& error) {
    ManifestLines read;
    if (!ReadManifestFile(path, read, error))
        return false;
    lines = read.lines();
    return true;
}
