// The response header and a chunked body, fed in pieces whose sizes come
// from the input: what is read must not depend on how the bytes were cut.
// Input: one byte n (low four bits), n cut sizes, then the response.
#include "engine/response.h"

#include <cstdlib>
#include <tuple>

namespace {

// Header, status, length, range start, chunked; body, framing intact, last chunk seen.
using Outcome = std::tuple<QByteArray, Response::Status, std::optional<qint64>, std::optional<qint64>, bool, QByteArray, bool, bool>;

// Nothing when the header was refused as too long.
std::optional<Outcome> readResponse(QByteArrayView bytes, QByteArrayView cuts)
{
    HeaderScanner header;
    ChunkedDecoder chunks;
    QByteArray body;
    bool framingOk = true;
    for (qsizetype at = 0, k = 0; at < bytes.size();) {
        const qsizetype n = cuts.isEmpty() ? bytes.size() : 1 + quint8(cuts[k++ % cuts.size()]);
        QByteArrayView piece = bytes.sliced(at, qMin(n, bytes.size() - at));
        at += piece.size();
        if (!header.done()) {
            const qsizetype bodyStart = header.feed(piece);
            if (header.tooLong() || bodyStart < 0)
                continue;
            piece = piece.sliced(bodyStart);
        }
        framingOk = chunks.feed(piece, body) && framingOk;
    }
    if (header.tooLong() || header.header().size() > Response::MaxHeaderBytes)
        return std::nullopt;
    const QByteArray &h = header.header();
    return Outcome{h, header.status(), Response::contentLength(h), Response::contentRangeStart(h), Response::isChunked(h),
                   body, framingOk, chunks.finished()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(data, qsizetype(size));
    const qsizetype cutCount = input.isEmpty() ? 0 : qMin<qsizetype>(input[0] & 15, input.size() - 1);
    const QByteArrayView cuts = input.sliced(qMin<qsizetype>(1, input.size()), cutCount);
    const QByteArrayView response = input.sliced(qMin<qsizetype>(1 + cutCount, input.size()));
    if (readResponse(response, cuts) != readResponse(response, {}))
        std::abort();
    return 0;
}
