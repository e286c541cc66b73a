#pragma once
// Reading a response header that arrives in pieces, and decoding a chunked
// body. Plain functions and small classes over bytes, so they can be tested
// and fuzzed without a socket.
#include <QByteArray>
#include <QByteArrayView>
#include <optional>

namespace Response {

// Redirect: 301, 302, 303, 307 or 308. RangeNotSatisfiable: 416.
enum class Status {
    Unknown,
    Ok200,
    Partial206,
    NotFound404,
    Redirect,
    RangeNotSatisfiable,
    Error
};

// A header that grows past this without its blank line is an error.
constexpr qsizetype MaxHeaderBytes = 64 * 1024;

// Classifies a complete status line (without its CR LF) by its three-digit
// code, whatever reason phrase follows: "HTTP/1.1 200 OK", "HTTP/1.0 200"
// and "HTTP/1.1 200 Ok" are all 200. Codes other than these, and anything
// that is not an HTTP/1.0 or 1.1 status line, are Error.
Status classifyStatusLine(QByteArrayView line);
// The three-digit code of an HTTP/1.0 or 1.1 status line; 0 for anything else.
int statusCode(QByteArrayView line);
// Retry-After in seconds (the date form is not read).
std::optional<qint64> retryAfter(QByteArrayView header);

// Header fields, looked up in the header lines after the status line; the
// name is matched at the start of a line in any letter case.
// Content-Length: the trimmed value; not a number, negative or above
// 2^63 - 1 gives nothing (unknown). The same value repeated, in several
// lines or as a comma list in one, is that value.
std::optional<qint64> contentLength(QByteArrayView header);
// Two Content-Length values that differ: nobody can tell where the body ends.
bool contentLengthConflicts(QByteArrayView header);
// What names this version of the file: a strong ETag (quotes included),
// else Last-Modified, exactly as sent; empty when there is neither (a weak
// ETag, W/"...", is not used). A value holding control bytes is not used
// either: it goes back to the server as a request line.
QByteArray validator(QByteArrayView header);
// The trimmed value of Location, if there is one.
std::optional<QByteArray> location(QByteArrayView header);
// The trimmed value of Content-Disposition, if there is one.
std::optional<QByteArray> contentDisposition(QByteArrayView header);
// Transfer-Encoding whose last coding is "chunked".
bool isChunked(QByteArrayView header);
// The first byte of "Content-Range: bytes FIRST-LAST/TOTAL".
std::optional<qint64> contentRangeStart(QByteArrayView header);
// FIRST, LAST and TOTAL of that line; TOTAL is -1 when the server wrote "*",
// FIRST and LAST are -1 for the "bytes */TOTAL" of a 416.
struct ContentRange {
    qint64 first = 0, last = 0, total = -1;
};
std::optional<ContentRange> contentRange(QByteArrayView header);

}  // namespace Response

// Collects a header over several arrivals. The blank line that ends it may
// be split between two arrivals; the status is known once the status line's
// CR LF has arrived.
class HeaderScanner {
public:
    // Feeds one arrival. Returns the index in `arrival` of the first body
    // byte (arrival.size() when the header ends at its last byte) once the
    // header has ended, otherwise -1. Nothing more is taken after the end.
    qsizetype feed(QByteArrayView arrival);

    bool done() const { return done_; }
    // More than MaxHeaderBytes without the end of the header.
    bool tooLong() const { return !done_ && header_.size() > Response::MaxHeaderBytes; }
    Response::Status status() const { return status_; }
    int code() const { return code_; }
    // The header bytes received so far (up to and including the blank line).
    const QByteArray &header() const { return header_; }

private:
    QByteArray header_;
    Response::Status status_ = Response::Status::Unknown;
    int code_ = 0;
    bool done_ = false;
};

// Decodes "Transfer-Encoding: chunked" framing fed in arbitrary pieces.
class ChunkedDecoder {
public:
    // Appends the data bytes found in `in` to `out`. Returns false when the
    // framing is broken; the decoder then stays failed.
    bool feed(QByteArrayView in, QByteArray &out);
    // The last (zero-size) chunk has been seen.
    bool finished() const { return state_ == State::Done; }
    bool failed() const { return state_ == State::Failed; }

private:
    enum class State {
        Size,
        SizeTail,
        Extension,
        SizeLf,
        Data,
        DataCr,
        DataLf,
        Trailer,
        TrailerLf,
        Done,
        Failed
    };
    State state_ = State::Size;
    qint64 remaining_ = 0;
    int sizeDigits_ = 0;
    int trailerLineBytes_ = 0;
    int trailerBytes_ = 0;
};
