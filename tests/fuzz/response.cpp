// The response header and a chunked body, fed in pieces whose sizes come
// from the input: what is read must not depend on how the bytes were cut;
// the header kept is the bytes up to the first blank line, and its status
// that of its first line.
// Input: one byte n (low four bits), n cut sizes, then the response.
#include "engine/response.h"

#include <cstdlib>

using namespace Response;

// Header, status, fields, body, framing intact, last chunk seen; "too long"
// when the header was refused.
static QByteArray readResponse(QByteArrayView bytes, QByteArrayView cuts)
{
    HeaderScanner header;
    ChunkedDecoder chunks;
    QByteArray body;
    bool framingOk = true;
    for (qsizetype at = 0, k = 0; at < bytes.size();) {
        const qsizetype n = cuts.isEmpty() ? bytes.size() : 1 + quint8(cuts[k++ % cuts.size()]);
        const QByteArrayView piece = bytes.sliced(at, qMin(n, bytes.size() - at));
        at += piece.size();
        if (const qsizetype bodyStart = header.feed(piece); bodyStart >= 0)
            framingOk = chunks.feed(piece.sliced(bodyStart), body) && framingOk;
    }
    const QByteArray &h = header.header();
    if (header.tooLong() || h.size() > MaxHeaderBytes)
        return "too long";
    const qsizetype end = bytes.indexOf("\r\n\r\n"), line = h.indexOf("\r\n");
    if (h != bytes.first(end < 0 ? bytes.size() : end + 4)
        || header.status() != (line < 0 ? Status::Unknown : classifyStatusLine(h.first(line))))
        std::abort();
    const auto field = [](qint64 n) { return QByteArray::number(n) + '|'; };
    return h + '|' + field(int(header.status())) + field(contentLength(h).value_or(-1))
           + field(contentRangeStart(h).value_or(-1)) + field(isChunked(h)) + field(framingOk)
           + field(chunks.finished()) + body;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(data, qsizetype(size));
    const qsizetype n = input.isEmpty() ? 0 : qMin<qsizetype>(input[0] & 15, input.size() - 1);
    const QByteArrayView response = input.sliced(qMin<qsizetype>(1 + n, input.size()));
    if (readResponse(response, input.sliced(qMin<qsizetype>(1, input.size()), n))
        != readResponse(response, {}))
        std::abort();
    return 0;
}
