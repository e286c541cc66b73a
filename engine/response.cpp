#include "engine/response.h"

#include <limits>

namespace Response {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView trimBlanks(QByteArrayView v)
{
    while (!v.isEmpty() && isBlank(v.front()))
        v = v.sliced(1);
    while (!v.isEmpty() && isBlank(v.back()))
        v = v.chopped(1);
    return v;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool startsWithNoCase(QByteArrayView text, QByteArrayView prefix)
{
    return text.size() >= prefix.size()
           && text.first(prefix.size()).compare(prefix, Qt::CaseInsensitive) == 0;
}

// Decimal digits only, at most `limit`; anything else gives nothing.
std::optional<qint64> parseDecimal(QByteArrayView digits,
                                   qint64 limit = std::numeric_limits<qint64>::max())
{
    if (digits.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9' || value > (limit - (c - '0')) / 10)
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// Calls `visit(value)` for every complete header line after the status line
// whose name is `name` (any letter case), until `visit` returns true. A line
// still waiting for its CR LF is not looked at: its value may be incomplete.
template <typename Visit>
void forEachField(QByteArrayView header, QByteArrayView name, Visit visit)
{
    const QByteArrayView crlf("\r\n");
    qsizetype lineStart = header.indexOf(crlf);
    if (lineStart < 0)
        return;
    lineStart += 2;
    while (lineStart < header.size()) {
        const qsizetype lineEnd = header.indexOf(crlf, lineStart);
        if (lineEnd < 0 || lineEnd == lineStart)
            return;  // an unfinished line, or the blank line that ends the header
        const QByteArrayView line = header.sliced(lineStart, lineEnd - lineStart);
        if (startsWithNoCase(line, name) && visit(trimBlanks(line.sliced(name.size()))))
            return;
        lineStart = lineEnd + 2;
    }
}

// The trimmed value of the first complete line named `name`.
std::optional<QByteArrayView> firstField(QByteArrayView header, QByteArrayView name)
{
    std::optional<QByteArrayView> found;
    forEachField(header, name, [&](QByteArrayView value) {
        found = value;
        return true;
    });
    return found;
}

}  // namespace

int statusCode(QByteArrayView line)
{
    if (!line.startsWith("HTTP/1.1 ") && !line.startsWith("HTTP/1.0 "))
        return 0;
    const QByteArrayView rest = line.sliced(9);
    if (rest.size() < 3 || (rest.size() > 3 && !isBlank(rest[3])))
        return 0;
    return int(parseDecimal(rest.first(3)).value_or(0));
}

Status classifyStatusLine(QByteArrayView line)
{
    switch (statusCode(line)) {
    case 200:
        return Status::Ok200;
    case 206:
        return Status::Partial206;
    case 404:
        return Status::NotFound404;
    case 301:
    case 302:
    case 303:
    case 307:
    case 308:
        return Status::Redirect;
    case 416:
        return Status::RangeNotSatisfiable;
    default:
        return Status::Error;
    }
}

std::optional<qint64> retryAfter(QByteArrayView header)
{
    const auto value = firstField(header, "Retry-After:");
    return value ? parseDecimal(*value) : std::nullopt;
}

namespace {

// Every Content-Length value, each line read as a comma list. `conflict`:
// two numbers differ. Anything that is not a number makes the length unknown.
struct Lengths {
    std::optional<qint64> value;
    bool conflict = false;
};

Lengths contentLengths(QByteArrayView header)
{
    Lengths found;
    bool unreadable = false;
    forEachField(header, "Content-Length:", [&](QByteArrayView line) {
        for (qsizetype start = 0; start <= line.size();) {
            qsizetype comma = line.indexOf(',', start);
            if (comma < 0)
                comma = line.size();
            const auto number = parseDecimal(trimBlanks(line.sliced(start, comma - start)));
            if (!number)
                unreadable = true;
            else if (found.value && *found.value != *number)
                found.conflict = true;
            else
                found.value = number;
            start = comma + 1;
        }
        return false;
    });
    if (unreadable)
        found.value.reset();
    return found;
}

}  // namespace

std::optional<qint64> contentLength(QByteArrayView header)
{
    const Lengths lengths = contentLengths(header);
    return lengths.conflict ? std::nullopt : lengths.value;
}

bool contentLengthConflicts(QByteArrayView header)
{
    return contentLengths(header).conflict;
}

QByteArray validator(QByteArrayView header)
{
    auto usable = [](std::optional<QByteArrayView> value) {
        if (!value || value->isEmpty())
            return false;
        for (const char c : *value) {
            if (uchar(c) < 0x20 || c == 0x7f)
                return false;
        }
        return true;
    };
    const auto etag = firstField(header, "ETag:");
    if (usable(etag) && !etag->startsWith("W/"))
        return etag->toByteArray();
    const auto modified = firstField(header, "Last-Modified:");
    return usable(modified) ? modified->toByteArray() : QByteArray();
}

std::optional<QByteArray> location(QByteArrayView header)
{
    const auto value = firstField(header, "Location:");
    return value ? std::optional(value->toByteArray()) : std::nullopt;
}

std::optional<QByteArray> contentDisposition(QByteArrayView header)
{
    const auto value = firstField(header, "Content-Disposition:");
    return value ? std::optional(value->toByteArray()) : std::nullopt;
}

bool isChunked(QByteArrayView header)
{
    bool chunked = false;
    // Several Transfer-Encoding lines form one list; the last coding counts.
    forEachField(header, "Transfer-Encoding:", [&](QByteArrayView value) {
        const qsizetype comma = value.lastIndexOf(',');
        const QByteArrayView last = trimBlanks(comma < 0 ? value : value.sliced(comma + 1));
        chunked = last.compare("chunked", Qt::CaseInsensitive) == 0;
        return false;
    });
    return chunked;
}

std::optional<ContentRange> contentRange(QByteArrayView header)
{
    std::optional<ContentRange> found;
    forEachField(header, "Content-Range:", [&](QByteArrayView value) {
        if (!startsWithNoCase(value, "bytes") || value.size() < 6 || !isBlank(value[5]))
            return true;
        const QByteArrayView range = trimBlanks(value.sliced(5));
        const qsizetype slash = range.indexOf('/');
        if (slash <= 0)
            return true;
        const QByteArrayView span = range.first(slash), totalText = range.sliced(slash + 1);
        const auto total = totalText == "*" ? std::optional<qint64>(-1) : parseDecimal(totalText);
        if (!total)
            return true;
        if (span == "*") {  // the answer of a 416: only the total
            if (*total >= 0)
                found = ContentRange{-1, -1, *total};
            return true;
        }
        const qsizetype dash = span.indexOf('-');
        const auto first = dash > 0 ? parseDecimal(span.first(dash)) : std::nullopt;
        const auto last = dash > 0 ? parseDecimal(span.sliced(dash + 1)) : std::nullopt;
        if (first && last && *first <= *last)
            found = ContentRange{*first, *last, *total};
        return true;
    });
    return found;
}

std::optional<qint64> contentRangeStart(QByteArrayView header)
{
    const std::optional<ContentRange> range = contentRange(header);
    return range && range->first >= 0 ? std::optional<qint64>(range->first) : std::nullopt;
}

}  // namespace Response

qsizetype HeaderScanner::feed(QByteArrayView arrival)
{
    if (done_)
        return 0;
    if (tooLong())
        return -1;  // the session gives up on it; keep no more of it
    const qsizetype before = header_.size();
    header_.append(arrival.data(), arrival.size());

    // Only the new bytes are searched, with the last bytes of the previous
    // arrival in front of them: a CR LF may be split across two arrivals.
    if (status_ == Response::Status::Unknown) {
        const qsizetype lineEnd = header_.indexOf("\r\n", qMax<qsizetype>(0, before - 1));
        if (lineEnd >= 0) {
            status_ = Response::classifyStatusLine(QByteArrayView(header_).first(lineEnd));
            code_ = Response::statusCode(QByteArrayView(header_).first(lineEnd));
        }
    }
    const qsizetype end = header_.indexOf("\r\n\r\n", qMax<qsizetype>(0, before - 3));
    if (end < 0)
        return -1;
    const qsizetype headerEnd = end + 4;
    header_.truncate(headerEnd);
    done_ = true;
    return headerEnd - before;
}

bool ChunkedDecoder::feed(QByteArrayView in, QByteArray &out)
{
    // A size beyond this is no real chunk; it would only make us wait forever.
    constexpr qint64 MaxChunkSize = qint64(1) << 40;
    constexpr int MaxTrailerBytes = 64 * 1024;

    auto fail = [this] {
        state_ = State::Failed;
        return false;
    };

    qsizetype i = 0;
    while (i < in.size()) {
        const char c = in[i];
        switch (state_) {
        case State::Size:
            if (const int digit = Response::hexDigit(c); digit >= 0) {
                remaining_ = remaining_ * 16 + digit;
                ++sizeDigits_;
                if (remaining_ > MaxChunkSize)
                    return fail();
            } else if (sizeDigits_ == 0) {
                return fail();
            } else if (c == ';') {
                state_ = State::Extension;
            } else if (Response::isBlank(c)) {
                state_ = State::SizeTail;
            } else if (c == '\r') {
                state_ = State::SizeLf;
            } else {
                return fail();
            }
            ++i;
            break;
        case State::SizeTail:
            if (c == ';')
                state_ = State::Extension;
            else if (c == '\r')
                state_ = State::SizeLf;
            else if (!Response::isBlank(c))
                return fail();
            ++i;
            break;
        case State::Extension:
            if (c == '\r')
                state_ = State::SizeLf;
            else if (c == '\n')
                return fail();
            ++i;
            break;
        case State::SizeLf:
            if (c != '\n')
                return fail();
            state_ = remaining_ == 0 ? State::Trailer : State::Data;
            trailerLineBytes_ = 0;
            ++i;
            break;
        case State::Data: {
            const qsizetype take = qsizetype(qMin<qint64>(remaining_, in.size() - i));
            out.append(in.data() + i, take);
            remaining_ -= take;
            i += take;
            if (remaining_ == 0)
                state_ = State::DataCr;
            break;
        }
        case State::DataCr:
            if (c != '\r')
                return fail();
            state_ = State::DataLf;
            ++i;
            break;
        case State::DataLf:
            if (c != '\n')
                return fail();
            state_ = State::Size;
            sizeDigits_ = 0;
            remaining_ = 0;
            ++i;
            break;
        case State::Trailer:
            if (c == '\r') {
                state_ = State::TrailerLf;
            } else if (c == '\n') {
                return fail();
            } else {
                ++trailerLineBytes_;
                if (++trailerBytes_ > MaxTrailerBytes)
                    return fail();
            }
            ++i;
            break;
        case State::TrailerLf:
            if (c != '\n')
                return fail();
            // An empty line ends the trailers and the body.
            state_ = trailerLineBytes_ == 0 ? State::Done : State::Trailer;
            trailerLineBytes_ = 0;
            ++i;
            break;
        case State::Done:
            return true;  // whatever follows the last chunk is not ours
        case State::Failed:
            return false;
        }
    }
    return state_ != State::Failed;
}
