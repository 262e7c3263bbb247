// The response parser fed as received data: the input is cut into reads at points the
// fuzzer chooses (its first bytes), then every read goes through the line buffer and the
// header-line classifier the way the client feeds them. The lines and the body must be
// the same as when the whole response arrives in one piece. The body then goes through
// the chunk decoder, whole, in the same cuts and one byte at a time: the decoded body
// and the verdict must not depend on the cuts.
#include "http/http_chunked_decoder.h"
#include "http/http_response_parser.h"

#include <QList>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

struct Parsed {
    QList<QByteArray> lines;
    QByteArray body;
    bool tooLong = false;
};

Parsed feed(const uint8_t* data, size_t size, const QList<size_t>& cuts) {
    Parsed out;
    HttpLineBuffer buffer;
    bool inBody = false;
    size_t pos = 0;
    qsizetype next = 0;
    while (pos < size && !out.tooLong) {
        size_t end = next < cuts.size() ? cuts[next++] : size;
        end = end < pos ? pos : (end > size ? size : end);
        if (end == pos)
            end = size;
        while (pos < end) {
            if (inBody) {
                out.body.append(reinterpret_cast<const char*>(data + pos), qsizetype(end - pos));
                pos = end;
                break;
            }
            if (buffer.full()) {
                out.tooLong = true;
                break;
            }
            pos += size_t(buffer.append(reinterpret_cast<const char*>(data + pos), qint64(end - pos)));
            while (!inBody) {
                QByteArray ending;
                const std::optional<QByteArray> line = buffer.takeLine(&ending);
                if (!line)
                    break;
                out.lines << *line;
                const HttpHeaderLine parsed = ParseHttpHeaderLine(*line);
                if (parsed.kind == HttpHeaderLine::Field) {
                    if (parsed.name == "content-length")
                        (void)ParseContentLength(parsed.value);
                    if (parsed.name == "content-range") {
                        const HttpContentRange range = ParseContentRange(parsed.value);
                        if (range.begin.size() > parsed.value.size() || range.end.size() > parsed.value.size())
                            std::abort();
                        const std::optional<HttpByteRange> bytes = ParseByteContentRange(parsed.value);
                        if (bytes && (bytes->first < 0 || bytes->first > bytes->last || bytes->last >= bytes->total))
                            std::abort();
                    }
                }
                if (parsed.kind == HttpHeaderLine::Status && parsed.statusCode > 999)
                    std::abort();
                if (parsed.kind == HttpHeaderLine::End || parsed.kind == HttpHeaderLine::Html) {
                    inBody = true;
                    out.body = buffer.takeAll();
                }
            }
        }
    }
    return out;
}

struct Unchunked {
    HttpChunkedDecoder::Result result = HttpChunkedDecoder::Result::Incomplete;
    QByteArray body;
    qint64 used = 0;
};

// Feeds the body in reads that end at the given offsets (none: one read; a step of 1:
// one byte per read).
Unchunked unchunk(const QByteArray& body, const QList<size_t>& cuts, bool byteByByte) {
    HttpChunkedDecoder decoder;
    Unchunked out;
    const auto sink = [&out](const char* run, qint64 size) {
        if (size <= 0)
            std::abort();
        out.body.append(run, size);
    };
    qint64 pos = 0;
    qsizetype next = 0;
    while (pos < body.size() && out.result == HttpChunkedDecoder::Result::Incomplete) {
        qint64 end = byteByByte ? pos + 1 : (next < cuts.size() ? qint64(cuts[next++]) : body.size());
        end = end <= pos || end > body.size() ? body.size() : end;
        qint64 used = 0;
        out.result = decoder.feed(body.constData() + pos, end - pos, sink, &used);
        if (used < 0 || used > end - pos || (out.result == HttpChunkedDecoder::Result::Incomplete && used != end - pos))
            std::abort();
        pos += used;
    }
    out.used = pos;
    if (out.body.size() > out.used)
        std::abort();
    return out;
}

void checkUnchunk(const QByteArray& body, const QList<size_t>& cuts) {
    const Unchunked whole = unchunk(body, {}, false);
    for (const Unchunked& other : {unchunk(body, cuts, false), unchunk(body, {}, true)})
        if (other.result != whole.result || other.body != whole.body || other.used != whole.used)
            std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    // The first byte says how many cut points follow (one byte each, scaled).
    const size_t cutCount = data[0] % 8;
    if (size < 1 + cutCount)
        return 0;
    QList<size_t> cuts;
    for (size_t i = 0; i < cutCount; ++i)
        cuts << size_t(data[1 + i]) * 17;
    const uint8_t* response = data + 1 + cutCount;
    const size_t length = size - 1 - cutCount;

    const Parsed whole = feed(response, length, {});
    const Parsed pieces = feed(response, length, cuts);
    if (whole.tooLong != pieces.tooLong)
        std::abort();
    if (!whole.tooLong && (whole.lines != pieces.lines || whole.body != pieces.body))
        std::abort();
    if (!whole.tooLong)
        checkUnchunk(whole.body, cuts);
    return 0;
}
