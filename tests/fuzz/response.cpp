// The response header and a chunked body, fed in pieces whose sizes come
// from the input: what is read must not depend on how the bytes were cut.
// Input: one byte n (low four bits), n cut sizes, then the response.
#include "engine/response.h"

#include <cstdlib>

// Header, status, framing, body; "too long" when the header was refused.
static QByteArray readResponse(const QByteArray &bytes, const QByteArray &cut)
{
    HeaderScanner header;
    ChunkedDecoder chunks;
    QByteArray body;
    for (qsizetype at = 0, k = 0; at < bytes.size(); ++k) {
        const auto piece = bytes.mid(at, cut.isEmpty() ? -1 : 1 + uchar(cut[k % cut.size()]));
        at += piece.size();
        if (const qsizetype start = header.feed(piece); start >= 0)
            chunks.feed(piece.mid(start), body);
    }
    const QByteArray &h = header.header();
    return h.size() > Response::MaxHeaderBytes ? "too long"
                                               : h + char(header.status()) + char(chunks.failed())
                                                     + char(chunks.finished()) + body;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype n = input.isEmpty() ? 0 : input[0] & 15;
    if (readResponse(input.mid(1 + n), input.mid(1, n)) != readResponse(input.mid(1 + n), {}))
        std::abort();
    return 0;
}
