#pragma once

#include <QtGlobal>

#include <functional>

// Undoes "Transfer-Encoding: chunked" as the bytes arrive, so a server that frames its
// answer that way (though asked in HTTP/1.0) does not get its chunk-size lines written
// into a part file. Pure and incremental: feeding the bytes in any cuts, one at a time
// included, gives the same body and the same result.
//
// Bounded: a chunk-size line holds at most 16 hex digits, and it (with extensions,
// which are ignored) or a trailer line (skipped) at most 8192 bytes; at most 100 trailer
// lines. Anything else out of form is an error.
class HttpChunkedDecoder {
public:
    enum class Result {
        Incomplete,  // more bytes are needed
        Ok,          // the last chunk and the trailer have ended
        Error        // the framing is broken; the decoder stays in this state
    };

    static constexpr int kMaxSizeDigits = 16;
    static constexpr qint64 kMaxLineBytes = 8192;
    static constexpr int kMaxTrailerLines = 100;

    // Receives a run of body bytes; the pointer is valid only during the call.
    using Sink = std::function<void(const char* data, qint64 size)>;

    // Decodes the next received bytes, handing every run of body bytes to sink (runs
    // point into data, no copy). Stops at the end of the body or at an error: *used,
    // when given, tells how many bytes were taken.
    Result feed(const char* data, qint64 size, const Sink& sink, qint64* used = nullptr);

    Result result() const;
    void reset() { *this = HttpChunkedDecoder(); }

private:
    enum class State { SizeDigits, SizeRest, Data, DataEnd, DataLf, Trailer, Done, Failed };
    enum class LineStep { More, Ended, EndedEmpty, Bad };

    bool step(char c);
    // One byte of a line whose content is skipped (extensions, trailer fields).
    LineStep skipLineByte(char c);

    State m_state = State::SizeDigits;
    quint64 m_size = 0;       // of the chunk being read; what is left of it in Data
    int m_digits = 0;
    qint64 m_lineBytes = 0;   // of the size or trailer line so far
    bool m_afterCr = false;   // the last byte of the line was a CR
    int m_trailerLines = 0;
};
