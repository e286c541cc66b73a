#pragma once
// The one GET request a session sends, and what its answer's header means
// for it. The range asked for, the validator sent with it and the size known
// decide both, so the rules of a resume live here and nowhere else.
#include "engine/response.h"

#include <QString>

struct RequestInput {
    bool viaProxy = false;
    QString mPath;     // target of a direct request
    QString DownUrl;   // target through a proxy
    QString mHost;     // "Host:" line, ":port" included when the URL has one
    QString mProxyId;  // no Proxy-Authorization line when empty
    QString mProxyPass;
    qint64 mFlen = 0;  // a Range line only when the length is known
    qint64 ReceiveBytes = 0;
    bool mSizeOpen = false;  // mFlen is only a lower bound
    QString Validator;       // sent as If-Range with a Range; empty: none known
    // A piece of the file: the last byte asked for (Range: bytes=N-M), when
    // several connections share it; -1: everything from ReceiveBytes on.
    qint64 RangeLast = -1;
    // What a browser sent with the link, for the task's every request: its
    // User-Agent instead of ours, its Referer, and its Cookie only where this
    // request goes to the origin the cookies were given for.
    QString userAgent, referrer, cookie;
    QString cookieOrigin;  // originOf() the URL the cookies came with
    QString origin;        // originOf() the URL this request asks
};

class RequestPlan {
public:
    RequestPlan() = default;
    explicit RequestPlan(const RequestInput &in);

    // The request, as text (sent as GBK bytes).
    const QString &request() const { return request_; }
    // The bytes on disk when it was made, and the first byte it asks for:
    // 0 when the count cannot be right (above the known size, or negative),
    // and then the file starts over.
    qint64 count() const { return count_; }
    qint64 from() const { return from_; }
    bool startsOver() const { return from_ != count_; }
    qint64 size() const { return size_; }
    bool sizeOpen() const { return sizeOpen_; }
    // The last byte a piece's request asks for; -1: not a piece.
    qint64 pieceLast() const { return last_; }
    bool rangeSent() const { return rangeSent_; }
    // The validator asked with (If-Range); empty: none.
    const QString &validator() const { return validator_; }

    // What a 200 or 206 header says about the bytes it brings.
    enum class Outcome {
        Take,       // they are what was asked for
        Changed,    // another file than the one on disk, or bytes past its size
        Malformed,  // an answer nobody can read right
    };
    struct Verdict {
        Outcome outcome = Outcome::Take;
        // The size from here on, when the answer settles it (0: unknown).
        std::optional<qint64> size;
        // Body bytes the answer declares; -1: it does not say.
        qint64 declared = -1;
        // The validator to keep: the answer's, when it names the file.
        std::optional<QString> validator;
    };
    Verdict judge(Response::Status status, const QByteArray &header) const;

private:
    Verdict judgePartial(const QByteArray &header, const QString &theirs) const;
    Verdict judgeWhole(const QByteArray &header, const QString &theirs) const;
    Verdict judgePiece(Response::Status status, const QByteArray &header,
                       const QString &theirs) const;

    QString request_;
    qint64 count_ = 0, from_ = 0, size_ = 0, last_ = -1;
    bool sizeOpen_ = false, rangeSent_ = false;
    QString validator_;
};

// The request for `in`.
inline QString BuildRequest(const RequestInput &in)
{
    return RequestPlan(in).request();
}

// "scheme://host:port" of an http or https URL, lower case, the port always
// written; empty for anything else. Cookies go only where it is the same.
QString originOf(const QString &url);

// The value of a Proxy-Authorization line: "Basic " and the credentials.
QString proxyAuthorization(const QString &user, const QString &password);
