#include "engine/requestplan.h"

#include "engine/moddown.h"
#include "tasks/gbktext.h"
#include "tasks/requestline.h"

#include <QUrl>
#include <limits>

namespace {

bool hasContentRangeLine(const QByteArray &header)
{
    return header.toLower().contains("\r\ncontent-range:");
}

// The bytes FIRST-LAST covers; a range as wide as the whole number line
// ("0-9223372036854775807") saturates instead of wrapping round.
qint64 spanOf(const Response::ContentRange &range)
{
    const qint64 span = range.last - range.first;
    return span < std::numeric_limits<qint64>::max() ? span + 1 : span;
}

// A value that cannot end its line early or start another one.
bool fitsOneLine(const QString &value)
{
    return !value.isEmpty() && !holdsControlCharacter(value);
}

RequestPlan::Verdict refused(RequestPlan::Outcome why)
{
    RequestPlan::Verdict v;
    v.outcome = why;
    return v;
}

}  // namespace

RequestPlan::RequestPlan(const RequestInput &in)
    : count_(in.ReceiveBytes), from_(in.ReceiveBytes), size_(in.mFlen), last_(in.RangeLast),
      sizeOpen_(in.mSizeOpen), rangeSent_(in.mFlen > 0), validator_(in.Validator)
{
    // More bytes than the file has, or a count below nothing: whatever is on
    // disk is not the file's start, so all of it is asked for again.
    if (from_ < 0 || (size_ > 0 && !sizeOpen_ && from_ > size_))
        from_ = 0;

    static const QString crlf = QStringLiteral("\r\n");
    QString &r = request_;
    r += QStringLiteral("GET ") + (in.viaProxy ? in.DownUrl : in.mPath)
         + QStringLiteral(" HTTP/1.1") + crlf;
    r += QStringLiteral("Accept: */*") + crlf;
    // Standard header names: a blank inside a header name makes servers such
    // as nginx answer 400. Only the identity coding is asked for, because the
    // body is stored exactly as received.
    r += QStringLiteral("Accept-Language: zh-cn") + crlf;
    r += QStringLiteral("Accept-Encoding: identity") + crlf;
    r += QStringLiteral("User-Agent: ")
         + (fitsOneLine(in.userAgent) ? in.userAgent : QStringLiteral("Zipvane1.0")) + crlf;
    r += QStringLiteral("Host: ") + in.mHost + crlf;
    if (fitsOneLine(in.referrer))
        r += QStringLiteral("Referer: ") + in.referrer + crlf;
    // Cookies are the site's secret: never for another host, port or scheme
    // (a redirect elsewhere). A tunnel's CONNECT is not built here: it has none.
    if (fitsOneLine(in.cookie) && !in.cookieOrigin.isEmpty() && in.cookieOrigin == in.origin)
        r += QStringLiteral("Cookie: ") + in.cookie + crlf;
    if (in.viaProxy && !in.mProxyId.isEmpty()) {
        r += QStringLiteral("Proxy-Authorization: ")
             + proxyAuthorization(in.mProxyId, in.mProxyPass) + crlf;
    }
    // Without a known length there is nothing to resume against. With the
    // file's validator the server sends the rest only of that same file, and
    // the whole new one otherwise.
    if (rangeSent_) {
        r += QStringLiteral("Range: bytes=") + QString::number(from_) + QLatin1Char('-')
             + (last_ >= 0 ? QString::number(last_) : QString()) + crlf;
        if (!validator_.isEmpty())
            r += QStringLiteral("If-Range: ") + validator_ + crlf;
    }
    r += QStringLiteral("Connection: close") + crlf;
    r += crlf;
}

RequestPlan::Verdict RequestPlan::judge(Response::Status status, const QByteArray &header) const
{
    if (Response::contentLengthConflicts(header))
        return refused(Outcome::Malformed);
    const QString theirs = GbkText::decode(Response::validator(header));
    if (last_ >= 0)
        return judgePiece(status, header, theirs);
    return status == Response::Status::Partial206 ? judgePartial(header, theirs)
                                                  : judgeWhole(header, theirs);
}

RequestPlan::Verdict RequestPlan::judgePartial(const QByteArray &header,
                                               const QString &theirs) const
{
    const auto range = Response::contentRange(header);
    if (hasContentRangeLine(header) && (!range || range->first != from_))
        return refused(Outcome::Malformed);  // bytes from another place than the one asked for
    Verdict v;
    if (!theirs.isEmpty())
        v.validator = theirs;
    const auto length = Response::contentLength(header);
    v.declared = length ? *length : range ? spanOf(*range) : -1;
    if (!rangeSent_)
        return v;
    // A part of another version of the file: nothing of it joins ours.
    if (!validator_.isEmpty() && !theirs.isEmpty() && theirs != validator_)
        return refused(Outcome::Changed);

    qint64 size = 0;  // 0: only the server knows
    if (sizeOpen_) {
        // Only the server knows the size of a file this large: a 206 from
        // where ours ends says it.
        if (range && range->total > 0)
            v.size = size = range->total;
    } else {
        size = size_;
        // Another total: another file. With nothing on disk yet there is
        // nothing to protect, and the new total is the one to count against.
        if (range && range->total >= 0 && range->total != size_) {
            if (from_ != 0 || range->total == 0)
                return refused(Outcome::Changed);
            v.size = size = range->total;
        }
    }
    // A part that runs past the end of the file cannot be of our file.
    if (size > 0
        && ((range && range->last >= size) || (v.declared >= 0 && v.declared > size - from_)))
        return refused(Outcome::Changed);
    return v;
}

RequestPlan::Verdict RequestPlan::judgeWhole(const QByteArray &header, const QString &theirs) const
{
    // A whole answer names the file as it is now, with its validator or none.
    Verdict v;
    v.validator = theirs;
    const auto length = Response::contentLength(header);
    v.declared = length.value_or(-1);
    if (!rangeSent_)
        return v;
    if (!validator_.isEmpty() || sizeOpen_) {
        // Sent with If-Range it is the file as it is now, and the file starts
        // over with it; and only the server knows the size of a file this
        // large: either way its length is the size from here on.
        if (length && *length > 0)
            v.size = *length;
        else if (!validator_.isEmpty())
            v.size = 0;
        return v;
    }
    // No validator to ask with: the length alone tells whether it is ours.
    if (length == std::optional<qint64>(size_))
        return v;
    if (from_ == 0 && length && *length > 0) {
        v.size = *length;
        return v;
    }
    return refused(Outcome::Changed);
}

RequestPlan::Verdict RequestPlan::judgePiece(Response::Status status, const QByteArray &header,
                                             const QString &theirs) const
{
    // A piece joins bytes other connections wrote: only exactly the bytes
    // asked for, of exactly the file they are of, may. A whole answer, or a
    // part of another place, writes nothing.
    const auto range = Response::contentRange(header);
    if (status != Response::Status::Partial206 || !range)
        return refused(Outcome::Malformed);
    if ((range->total >= 0 && range->total != size_)
        || (!theirs.isEmpty() && theirs != validator_))
        return refused(Outcome::Changed);
    const auto length = Response::contentLength(header);
    if (theirs.isEmpty() || range->total < 0 || range->first != from_ || range->last != last_
        || (length && *length != last_ - from_ + 1))
        return refused(Outcome::Malformed);
    Verdict v;
    v.declared = last_ - from_ + 1;
    return v;
}

QString originOf(const QString &url)
{
    const QUrl u(url);
    const QString scheme = u.scheme().toLower();
    const int port = scheme == QLatin1String("https") ? 443 : 80;
    if ((scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        || u.host().isEmpty())
        return {};
    return scheme + QStringLiteral("://") + u.host().toLower() + QLatin1Char(':')
           + QString::number(u.port(port));
}

QString proxyAuthorization(const QString &user, const QString &password)
{
    return QStringLiteral("Basic ") + ModDown::Base64Encode(user + QLatin1Char(':') + password);
}
