#pragma once

#include <QString>
#include <QByteArray>
#include <QByteArrayView>
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

// The largest manifest a gather takes: a split makes at most 1000 parts, and a table of
// this many rows still fits a few tens of MiB. A manifest of more parts is refused
// before its rows are made.
inline constexpr int MaxManifestParts = 100000;
// The most lines such a manifest has: the header, three per part, comment and description.
inline constexpr int MaxManifestLines = ManifestLine::FirstPart + 3 * MaxManifestParts + 2;

// The lines of the current manifest (`mempwq`): composed by "Make PWQ", or loaded from
// a file or a browser link with empty lines dropped. One buffer for both, so composing
// a manifest replaces a loaded one. The lines are held as one UTF-8 text and the end of
// each line: a manifest of 100 000 parts has 300 000 lines, and a string object per
// line would cost several times the text. Copies share the text.
class ManifestLines {
public:
    ManifestLines() = default;
    // Plain lists convert, so the checks take the lines a test or a fetch made.
    ManifestLines(const QStringList& lines);  // NOLINT(google-explicit-constructor)

    // Every line as a string (for the few callers that want a list: the writer, tests).
    QStringList lines() const;
    int count() const { return static_cast<int>(m_ends.size()); }
    int size() const { return count(); }
    bool isEmpty() const { return m_ends.isEmpty(); }
    // A line beyond the end reads as empty, as a short manifest's missing lines do.
    QString line(int index) const;
    QString value(int index) const { return line(index); }
    QString operator[](int index) const { return line(index); }
    // The same line's UTF-8 bytes, valid while these lines are not changed.
    QByteArrayView lineBytes(int index) const;
    QString fileNameLine() const { return line(ManifestLine::FileName); }
    QString fileCrcLine() const { return line(ManifestLine::FileCrc); }

    void clear();
    void append(const QString& line);
    void appendUtf8(QByteArrayView line);
    void replace(const QStringList& lines);
    // Room for this many bytes of text, so a large manifest is not copied as it grows.
    void reserve(qsizetype bytes) { m_text.reserve(bytes); }
    // Gives up the room kept for further lines.
    void squeeze();

    bool operator==(const ManifestLines& other) const { return m_ends == other.m_ends && m_text == other.m_text; }

private:
    QByteArray m_text;
    // The offset in m_text just past each line.
    QList<qsizetype> m_ends;
};
