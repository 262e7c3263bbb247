// The chunk decoder on any bytes, in reads of a size the input picks: runs lie inside
// their read, the counts add up. The input framed in chunks of sizes it picks (extensions,
// bare LF, a trailer) decodes back to itself and stops at the framing's end.
#include "http/http_chunked_decoder.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

using Result = HttpChunkedDecoder::Result;

static QByteArray decode(const QByteArray& in, qint64 step, Result& result, qint64& used) {
    HttpChunkedDecoder decoder;
    QByteArray body;
    for (used = 0, result = Result::Incomplete; used < in.size() && result == Result::Incomplete;) {
        const char* read = in.constData() + used;
        const qint64 size = qMin(step, in.size() - used);
        qint64 taken = -1;
        result = decoder.feed(read, size, [&](const char* run, qint64 n) {
            if (n <= 0 || run < read || run + n > read + size)
                std::abort();
            body.append(run, n);
        }, &taken);
        if (taken < 0 || taken > size || (result == Result::Incomplete && taken != size))
            std::abort();
        used += taken;
    }
    return body;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray in(reinterpret_cast<const char*>(data), qsizetype(size));
    const qint64 step = 1 + qint64(size % 13);
    Result result;
    qint64 used;
    QByteArray framed;
    for (qsizetype pos = 0, n = 0; pos < in.size(); pos += n) {
        n = qMin<qsizetype>(1 + uchar(in[pos]) % 40, in.size() - pos);
        framed += QByteArray::number(n, 16).toUpper().rightJustified(n % 4, '0') + (n % 3 ? "\r\n" : ";x=y\n") +
                  in.mid(pos, n) + (n % 2 ? "\r\n" : "\n");
    }
    framed += "0\r\nTrailer: t\r\n\r\n";
    if (decode(in, step, result, used).size() > used ||
        decode(framed + "next", step, result, used) != in || result != Result::Ok || used != framed.size())
        std::abort();
    return 0;
}
