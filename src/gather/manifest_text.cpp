#include "gather/manifest_text.h"

#include <QFile>

QStringList ManifestTextLines(const QByteArray& text) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i <= size; ++i) {
        const bool end = i == size;
        if (!end && text[i] != '\r' && text[i] != '\n')
            continue;
        if (i > start)
            lines.append(QString::fromUtf8(text.constData() + start, i - start));
        // The LF of a CR LF pair belongs to the same line end.
        if (!end && text[i] == '\r' && i + 1 < size && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    return lines;
}

bool ReadManifestFile(const QString& path, QStringList& lines, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = "Cannot open " + path + ": " + file.errorString();
        return false;
    }
    const QByteArray text = file.read(kMaxManifestBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        error = "Cannot read " + path + ": " + file.errorString();
        return false;
    }
    if (text.size() > kMaxManifestBytes) {
        error = "Cannot read " + path + ": the file is too large to be a Parcelwick file.";
        return false;
    }
    const qsizetype ctrlZ = text.indexOf('\x1a');
    lines = ManifestTextLines(ctrlZ < 0 ? text : text.left(ctrlZ));
    return true;
}
