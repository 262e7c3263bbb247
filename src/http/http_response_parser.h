#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>

// The receive side of the HTTP client as pure functions over bytes: a bounded line
// buffer that cuts the header phase into lines, and a classifier for one header line.
// The client's state machine calls them; the tests and the fuzzer feed them directly.

// Holds received bytes until a line is complete. Its capacity bounds one header line:
// a buffer that is full without a line end can only hold an over-long line.
class HttpLineBuffer {
public:
    static constexpr qint64 kCapacity = 8192;

    qint64 size() const { return m_fill; }
    bool full() const { return m_fill >= kCapacity; }
    qint64 room() const { return kCapacity - m_fill; }

    // Reading straight into the buffer avoids a copy per read: read at most room()
    // bytes to writePtr(), then commit() the count read.
    char* writePtr() { return m_data + m_fill; }
    void commit(qint64 count);
    // Copies as much as fits; returns the count taken.
    qint64 append(const char* data, qint64 count);

    // The next complete line, without its LF and without one CR directly before the LF
    // (any other CR stays); nothing while no LF is buffered. A NUL byte is an ordinary
    // byte of the line. The bytes that ended it ("\n" or "\r\n") go to ending when given.
    std::optional<QByteArray> takeLine(QByteArray* ending = nullptr);
    // Every buffered byte, leaving the buffer empty (the first body chunk).
    QByteArray takeAll();
    void clear() { m_fill = 0; m_scanned = 0; }

private:
    char m_data[kCapacity];
    qint64 m_fill = 0;
    // Bytes already searched for a LF, so a line dribbled in byte by byte costs
    // linear time, not quadratic.
    qint64 m_scanned = 0;
};

// What one header-phase line says.
struct HttpHeaderLine {
    enum Kind {
        End,     // the empty line: the header is over
        Html,    // "<HTML>" in any case: a document that came without a header
        Status,  // "HTTP/1.0 ..." or "HTTP/1.1 ..."
        Field,   // "name: value"
        Other    // anything else; kept in the header list only
    };
    Kind kind = Other;
    // Status: the three digits after the version, or -1 when they are not a number.
    int statusCode = -1;
    QByteArray reason;  // Status: from the 14th character on
    QByteArray name;    // Field: lower-cased, before the first colon
    QByteArray value;   // Field: after the colon, leading blanks skipped
};

HttpHeaderLine ParseHttpHeaderLine(const QByteArray& line);

// The value of a Content-Length field: a plain decimal count from 0 to 2^63-1, or a
// list of that same count ("5, 5", as repeated fields are folded); nothing for anything
// else (a sign, a blank inside, different counts, a count too large).
std::optional<qint64> ParseContentLength(const QByteArray& value);

// Whether a Transfer-Encoding value frames the body in chunks: chunked is the last of
// the codings listed ("gzip, chunked"), in any case.
bool IsChunkedTransferEncoding(const QByteArray& value);

// The first and last byte of a Content-Range value "bytes 100-199/500" as text
// ("100", "199"); a part whose delimiter is missing is empty.
struct HttpContentRange {
    QByteArray begin;
    QByteArray end;
};
HttpContentRange ParseContentRange(const QByteArray& value);

// The bytes a 206 answer says it carries: "bytes FIRST-LAST/TOTAL" (RFC 9110, 14.4), the
// unit in any case, three plain decimal counts with FIRST <= LAST < TOTAL. Nothing for
// anything else ("bytes */500", "bytes 0-9/*", a sign, a blank inside, a count too
// large): a body whose place in the file is not certain must not be written into it.
struct HttpByteRange {
    qint64 first = 0;
    qint64 last = 0;
    qint64 total = 0;
};
std::optional<HttpByteRange> ParseByteContentRange(const QByteArray& value);
