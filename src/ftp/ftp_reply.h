#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>

// The control connection's receive side as pure functions over bytes: a bounded buffer
// that cuts what the server sends into reply lines, and the scans that read a line's
// code, the number behind it and a quoted path. The client's state machine calls them;
// the tests and the fuzzer feed them directly.

class FtpReplyReader {
public:
    // Unfinished reply text the client holds at most; a line longer than this can only
    // be a broken or hostile server.
    static constexpr qint64 kCapacity = 4095;

    qint64 size() const { return m_fill; }
    qint64 room() const { return kCapacity - m_fill; }
    // Read at most room() bytes to writePtr(), then commit() the count read.
    char* writePtr() { return m_data + m_fill; }
    void commit(qint64 count);
    void clear() { m_fill = 0; m_scanned = 0; }

    // The next complete line, every CR and LF at its end removed. With acceptLF a lone
    // LF ends a line; without it only a CR LF pair does (a lone LF stays in the line).
    // Nothing while no line end is held.
    std::optional<QByteArray> takeLine(bool acceptLF);

private:
    char m_data[kCapacity];
    qint64 m_fill = 0;
    // Bytes already searched for a line end, so a line dribbled in byte by byte costs
    // linear time, not quadratic.
    qint64 m_scanned = 0;
};

// A reply line as text to show and to keep: UTF-8, with a NUL and every other control
// character but the tab made a visible escape ("\0", "\x1b"), so that a NUL no longer
// ends the line where it is printed and a server cannot steer the user's terminal.
QString FtpReplyText(const QByteArray& line);

// What the first characters of a reply line say.
struct FtpReplyCode {
    bool numbered = false;  // the line begins with a decimal digit
    bool final = false;     // numbered, and the digits are not followed by "-"
    int code = 0;           // the number read (valid when numbered)
};
FtpReplyCode ScanFtpReplyCode(const QByteArray& line);

// The number after the code ("213 5000" gives 5000): blanks and one sign skipped, then
// the digits; 0 when there are none.
qint64 FtpReplyNumber(const QByteArray& line);

// The path quoted after the code ("257 \"/a \"\"b\"\"\" made" gives /a "b"): empty unless
// the text after the code, blanks skipped, starts with a double quote.
QByteArray FtpReplyQuotedPath(const QByteArray& line);

// The host and port of a passive reply: "229 ... (|||port|)" or
// "227 ... (h1,h2,h3,h4,p1,p2)"; nothing when the reply does not hold them.
std::optional<quint16> FtpExtendedPassivePort(const QByteArray& line);
std::optional<quint16> FtpPassivePort(const QByteArray& line);

// "! N bytes received/sent in S seconds (R Bytes/sec)", the line that ends a transfer.
QString FtpTransferStatistics(qint64 count, qint64 elapsedMs);
