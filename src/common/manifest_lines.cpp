#include "common/manifest_format.h"

ManifestLines::ManifestLines(const QStringList& lines) { replace(lines); }

QStringList ManifestLines::lines() const {
    QStringList all;
    all.reserve(count());
    for (int i = 0; i < count(); ++i)
        all.append(line(i));
    return all;
}

QByteArrayView ManifestLines::lineBytes(int index) const {
    if (index < 0 || index >= count())
        return {};
    const qsizetype start = index == 0 ? 0 : m_ends[index - 1];
    return QByteArrayView(m_text.constData() + start, m_ends[index] - start);
}

QString ManifestLines::line(int index) const { return QString::fromUtf8(lineBytes(index)); }

void ManifestLines::clear() {
    m_text.clear();
    m_ends.clear();
}

void ManifestLines::append(const QString& line) { appendUtf8(line.toUtf8()); }

void ManifestLines::appendUtf8(QByteArrayView line) {
    m_text.append(line);
    m_ends.append(m_text.size());
}

void ManifestLines::replace(const QStringList& lines) {
    ManifestLines replaced;
    for (const QString& line : lines)
        replaced.append(line);
    *this = std::move(replaced);
}

void ManifestLines::squeeze() {
    m_text.squeeze();
    m_ends.squeeze();
}
