// The FTP reply reader and the scans of reply lines on any bytes: no crash, the lines
// come out the same whether the bytes arrive at once or in pieces, and the held bytes
// stay within the buffer.
#include "ftp/ftp_reply.h"
#include "ftp/password_mask.h"

#include <QList>
#include <algorithm>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

QList<QByteArray> feed(const uint8_t* data, size_t size, size_t piece, bool acceptLF) {
    FtpReplyReader reader;
    QList<QByteArray> lines;
    size_t pos = 0;
    while (pos < size) {
        const size_t n = std::min<size_t>(std::min(piece, size - pos), size_t(reader.room()));
        if (n == 0)
            break;  // a full buffer without a line end: the client closes here
        std::memcpy(reader.writePtr(), data + pos, n);
        reader.commit(qint64(n));
        pos += n;
        while (auto line = reader.takeLine(acceptLF)) {
            if (line->size() >= FtpReplyReader::kCapacity || line->endsWith('\n') || line->endsWith('\r'))
                std::abort();
            lines << *line;
        }
        if (reader.size() > FtpReplyReader::kCapacity)
            std::abort();
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const bool acceptLF = data[0] & 1;
    const size_t piece = 1 + (data[0] >> 1);
    const QList<QByteArray> whole = feed(data + 1, size - 1, 4096, acceptLF);
    const QList<QByteArray> pieces = feed(data + 1, size - 1, piece, acceptLF);
    // Cut differently, the stream may only end earlier (at the full-buffer close), never
    // give other lines.
    for (qsizetype i = 0; i < qMin(whole.size(), pieces.size()); ++i)
        if (whole[i] != pieces[i])
            std::abort();
    for (const QByteArray& line : whole) {
        const FtpReplyCode code = ScanFtpReplyCode(line);
        if (code.final && !code.numbered)
            std::abort();
        FtpReplyNumber(line);
        if (FtpReplyQuotedPath(line).size() > line.size())
            std::abort();
        FtpExtendedPassivePort(line);
        FtpPassivePort(line);
        MaskPassword(FtpReplyText(line), QString::fromLatin1(line.left(data[0] % 8)));
    }
    return 0;
}
