#include "http/http_chunked_decoder.h"

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

HttpChunkedDecoder::Result HttpChunkedDecoder::result() const {
    switch (m_state) {
    case State::Done:
        return Result::Ok;
    case State::Failed:
        return Result::Error;
    default:
        return Result::Incomplete;
    }
}

HttpChunkedDecoder::Result HttpChunkedDecoder::feed(const char* data, qint64 size, const Sink& sink, qint64* used) {
    qint64 pos = 0;
    while (pos < size && m_state != State::Done && m_state != State::Failed) {
        if (m_state == State::Data) {
            // Body bytes go out in runs as large as the input allows.
            const qint64 n = qint64(qMin<quint64>(m_size, quint64(size - pos)));
            sink(data + pos, n);
            pos += n;
            m_size -= quint64(n);
            if (m_size == 0)
                m_state = State::DataEnd;
            continue;
        }
        if (!step(data[pos]))
            m_state = State::Failed;
        ++pos;
    }
    if (used)
        *used = pos;
    return result();
}

HttpChunkedDecoder::LineStep HttpChunkedDecoder::skipLineByte(char c) {
    if (c == '\n') {
        const bool empty = m_lineBytes == (m_afterCr ? 1 : 0);
        m_lineBytes = 0;
        m_afterCr = false;
        return empty ? LineStep::EndedEmpty : LineStep::Ended;
    }
    // A CR belongs only right before the LF.
    if (m_afterCr || ++m_lineBytes > kMaxLineBytes)
        return LineStep::Bad;
    m_afterCr = c == '\r';
    return LineStep::More;
}

bool HttpChunkedDecoder::step(char c) {
    switch (m_state) {
    case State::SizeDigits: {
        const int value = hexValue(c);
        if (value >= 0) {
            if (++m_digits > kMaxSizeDigits)
                return false;
            m_size = m_size * 16 + quint64(value);
            ++m_lineBytes;
            return true;
        }
        if (m_digits == 0 || !(c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n'))
            return false;
        m_state = State::SizeRest;
        return step(c);
    }
    case State::SizeRest:
        switch (skipLineByte(c)) {
        case LineStep::Bad:
            return false;
        case LineStep::More:
            return true;
        default:
            m_digits = 0;
            m_state = m_size == 0 ? State::Trailer : State::Data;
            return true;
        }
    case State::DataEnd:
        if (c == '\r') {
            m_state = State::DataLf;
            return true;
        }
        [[fallthrough]];
    case State::DataLf:
        if (c != '\n')
            return false;
        m_state = State::SizeDigits;
        return true;
    case State::Trailer:
        switch (skipLineByte(c)) {
        case LineStep::Bad:
            return false;
        case LineStep::More:
            return true;
        case LineStep::Ended:
            return ++m_trailerLines <= kMaxTrailerLines;
        case LineStep::EndedEmpty:
            m_state = State::Done;
            return true;
        }
        return false;
    case State::Data:
    case State::Done:
    case State::Failed:
        break;
    }
    return false;
}
