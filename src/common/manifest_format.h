#pragma once

#include <QString>
#include <QStringList>

// The manifest (.pwq) as both sides see it: the fixed texts the writer puts in and
// every reader compares, and the in-memory lines that the window keeps as `mempwq`.
//
// Layout, lines counted from 1: signature, version "1", file name, file CRC, part
// count, then three lines per part (URL, size, CRC), then the comment and the
// description. Every line ends with CR LF; the text is UTF-8.

// Line 1 of every manifest: a host name of our own under the reserved .example domain.
// Readers compare it whole and case-sensitively.
inline constexpr char ManifestSignature[] = "www.parcelwick.example";
// Line 2: the only format version there is.
inline constexpr char ManifestVersion[] = "1";
// The product's web-site host, named by the message that refuses a newer version.
inline constexpr char ProductHostName[] = "www.parcelwick.example";

// Zero-based indexes of the header lines.
namespace ManifestLine {
enum : int { Signature = 0, Version = 1, FileName = 2, FileCrc = 3, PartCount = 4, FirstPart = 5 };
}

// The lines of the current manifest (`mempwq`): composed by "Make PWQ", or loaded from
// a file or a browser link with empty lines dropped. One buffer for both, so composing
// a manifest replaces a loaded one.
class ManifestLines {
public:
    const QStringList& lines() const { return m_lines; }
    int count() const { return static_cast<int>(m_lines.size()); }
    bool isEmpty() const { return m_lines.isEmpty(); }
    // A line beyond the end reads as empty, as a short manifest's missing lines do.
    QString line(int index) const { return m_lines.value(index); }
    QString fileNameLine() const { return line(ManifestLine::FileName); }
    QString fileCrcLine() const { return line(ManifestLine::FileCrc); }

    void clear() { m_lines.clear(); }
    void append(const QString& line) { m_lines.append(line); }
    void replace(const QStringList& lines) { m_lines = lines; }

private:
    QStringList m_lines;
};
