#include "engine/clsdown.h"

#include "engine/downengine.h"
#include "engine/request.h"
#include "tasks/gbktext.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace {

// Connect time-outs in whole seconds: more than this gives up.
constexpr qint64 DirectTimeoutSeconds = 20;
constexpr qint64 ProxyTimeoutSeconds = 10;

bool hasContentRangeLine(const QByteArray &header)
{
    return header.toLower().contains("\r\ncontent-range:");
}

}  // namespace

clsDown::clsDown(DownEngine &engine) : engine_(engine) {}

bool clsDown::AnalyzeUrl()
{
    // A URL that fails half-way leaves written what was found before the
    // failing step, so the parts start from what the session holds.
    url_.mFile = mFile;
    const bool ok = analyzeUrl(DownUrl, url_);
    mFile = url_.mFile;
    currentUrl_ = DownUrl;
    visited_ = {QUrl(DownUrl).toString(QUrl::FullyEncoded)};
    return ok;
}

bool clsDown::StartDown()
{
    bBusy = true;
    // A task that names a proxy never goes out directly.
    if (!mProxy.isEmpty())
        return StartDownProxy();
    return StartDownNoProxy();
}

bool clsDown::StartDownNoProxy()
{
    return connectAndSend(false);
}

bool clsDown::StartDownProxy()
{
    return connectAndSend(true);
}

bool clsDown::connectAndSend(bool viaProxy)
{
    // Everything may happen while we wait, including a new start that puts
    // another session into our slot: keep ourselves alive until we return.
    const auto self = shared_from_this();
    DownHost &host = engine_.host();
    const QString reason = viaProxy ? QStringLiteral("连接代理服务器时间过长")
                                    : QStringLiteral("连接服务器时间过长");
    if (WhichSocket < 0 || WhichSocket > 2 || (viaProxy && mProxyPort <= 0)) {
        engine_.CloseSocket(self, reason);
        return false;
    }
    const qint64 limit = viaProxy ? ProxyTimeoutSeconds : DirectTimeoutSeconds;

    StartTime = host.monotonicMs();
    DownSocket &socket = engine_.Wsock(WhichSocket);
    socket.RemoteHost = viaProxy ? mProxy : url_.mConnectHost;
    socket.RemotePort = viaProxy ? quint16(mProxyPort) : quint16(url_.mPort);
    // https goes through a proxy as a tunnel: the proxy sees neither the
    // request nor the answer, and the certificate is the server's.
    socket.TlsPeerName = url_.mSecure ? url_.mConnectHost : QString();
    socket.TunnelTarget.clear();
    socket.TunnelAuthorization.clear();
    if (url_.mSecure && viaProxy) {
        const QString host = url_.mConnectHost.contains(QLatin1Char(':'))
                                 ? QLatin1Char('[') + url_.mConnectHost + QLatin1Char(']')
                                 : url_.mConnectHost;
        socket.TunnelTarget = host + QLatin1Char(':') + QString::number(url_.mPort);
        if (!mProxyId.isEmpty())
            socket.TunnelAuthorization = proxyAuthorization(mProxyId, mProxyPass);
    }
    socket.Connect();

    for (;;) {
        // Once we were ended the socket may already carry a newer session:
        // only our own, still running connection gets our request.
        const bool ours = bBusy && engine_.Down(WhichSocket).get() == this;
        if (ours && socket.State() == DownSocket::Connected) {
            RequestInput in;
            in.viaProxy = viaProxy && !url_.mSecure;
            in.mPath = url_.mPath;
            in.DownUrl = url_.mTarget;
            in.mHost = url_.mHost;
            in.mProxyId = mProxyId;
            in.mProxyPass = mProxyPass;
            in.mFlen = mFlen;
            in.ReceiveBytes = ReceiveBytes;
            socket.SendData(BuildRequest(in));
            requestSent_ = true;
            lastHeardMs = host.monotonicMs();
            rangeSent_ = mFlen > 0;
            return true;
        }
        engine_.processEventsRound();
        const qint64 elapsedSeconds = (host.monotonicMs() - StartTime) / 1000;
        if (elapsedSeconds > limit || bCancel || !bBusy) {
            engine_.CloseSocket(self, reason);
            return false;
        }
    }
}

SaveResult clsDown::SaveData(qint64 ByteNum, const QByteArray &ByteData, qint64 &Flen)
{
    const QByteArrayView arrival(ByteData.constData(),
                                 qBound<qint64>(0, ByteNum, ByteData.size()));
    SaveResult result = SaveResult::Nothing;
    // The body bytes of this arrival: a part of it, or decoded chunks.
    QByteArrayView body;
    QByteArray decoded;

    if (!bHeaderDone) {
        ReceiveData += GbkText::decode(arrival);
        engine_.host().setClipboardText(ReceiveData);
        const qsizetype bodyStart = header_.feed(arrival);
        // A header may also end inside the arrival that makes it too long.
        if (header_.tooLong() || header_.header().size() > Response::MaxHeaderBytes)
            return SaveResult::Error;
        status_ = header_.status();
        switch (status_) {
        case Response::Status::Unknown:
            // The status line has not ended yet; a header cannot end before it.
            if (bodyStart >= 0)
                return SaveResult::Error;
            break;
        case Response::Status::Error: {
            const int code = header_.code();
            if (code != 408 && code != 429 && code != 500 && code != 502 && code != 503
                && code != 504)
                return SaveResult::Error;
            // A busy server may say when to come back, further down its header.
            if (bodyStart < 0)
                break;
            serverBusy_ = true;
            retryAfter_ = Response::retryAfter(header_.header()).value_or(-1);
            return SaveResult::Error;
        }
        case Response::Status::Ok200:
            result = SaveResult::Ok200;
            break;
        case Response::Status::Partial206:
            result = SaveResult::Partial206;
            break;
        case Response::Status::NotFound404:
            result = SaveResult::NotFound404;
            break;
        case Response::Status::Redirect:
        case Response::Status::RangeNotSatisfiable:
            break;  // decided once the whole header is here
        }

        // Only a file's own response tells its length; the length of an
        // error page is not the file's.
        const bool fileResponse
            = status_ == Response::Status::Ok200 || status_ == Response::Status::Partial206;
        if (fileResponse && mFlen == 0) {
            const auto length = Response::contentLength(header_.header());
            if (length && *length > 0) {
                mFlen = *length;
                Flen = mFlen;
            }
        }

        if (bodyStart < 0) {
            if (bCancel)
                result = SaveResult::Cancel;
            return result;
        }

        bHeaderDone = true;
        if (status_ == Response::Status::NotFound404)
            return result;  // the page that says so is no part of the file
        if (status_ == Response::Status::Redirect)
            return SaveResult::Redirect;  // nor is the page of a redirect
        if (status_ == Response::Status::RangeNotSatisfiable) {
            // Asked from where our file ends, a server answers 416 when the
            // file has no more: then its total is our length, and we are done.
            const auto range = Response::contentRange(header_.header());
            if (!mSizeOpen || !range || range->first >= 0 || range->total != ReceiveBytes)
                return SaveResult::Error;
            Flen = mFlen = range->total;
            mSizeOpen = false;
            bodyDone_ = true;
            return result;
        }
        if (const SaveResult refused = checkResumption(header_.header(), Flen);
            refused != SaveResult::Nothing)
            return refused;
        const QByteArray &header = header_.header();
        chunked_ = Response::isChunked(header);
        if (!chunked_) {
            const auto length = Response::contentLength(header);
            const auto range = Response::contentRange(header);
            if (length)
                bodyLeft_ = *length;
            else if (status_ == Response::Status::Partial206 && range)
                bodyLeft_ = range->last - range->first + 1;
        }
        const QByteArrayView rest = arrival.sliced(bodyStart);
        if (chunked_) {
            if (!chunks_.feed(rest, decoded))
                return SaveResult::Error;
            body = decoded;
        } else {
            body = rest;
        }
    } else if (chunked_) {
        if (!chunks_.feed(arrival, decoded))
            return SaveResult::Error;
        body = decoded;
    } else {
        body = arrival;
    }

    // Whatever a server sends after the length it declared is not the file's.
    if (bodyLeft_ >= 0 && body.size() > bodyLeft_)
        body = body.first(bodyLeft_);
    switch (writeBody(body.constData(), body.size())) {
    case Written::Ok:
        break;
    case Written::Failed:
        return SaveResult::WriteFail;
    case Written::LocalChanged:
        return SaveResult::LocalChanged;
    }
    if (bodyLeft_ >= 0) {
        bodyLeft_ -= body.size();
        bodyDone_ = bodyLeft_ == 0;
    } else if (chunked_ && chunks_.finished()) {
        bodyDone_ = true;
        // The last chunk tells the length a chunked answer never declared.
        if (mFlen == 0 && ReceiveBytes > 0)
            Flen = mFlen = ReceiveBytes;
    }
    return result;
}

QString clsDown::redirectTarget(QString *why) const
{
    constexpr int MaxRedirects = 20;
    const auto location = Response::location(header_.header());
    if (!location || location->isEmpty()) {
        *why = QStringLiteral("的重定向没有给出新地址");
        return {};
    }
    QUrl to = QUrl(currentUrl_).resolved(QUrl(QString::fromUtf8(*location)));
    if (to.path().isEmpty())
        to.setPath(QStringLiteral("/"));
    const QString target = to.toString(QUrl::FullyEncoded);
    UrlParts parts;
    if (!to.isValid()
        || (to.scheme() != QLatin1String("http") && to.scheme() != QLatin1String("https"))
        || !analyzeUrl(target, parts)) {
        *why = QStringLiteral("的重定向指向了无法识别的地址：") + QString::fromUtf8(*location);
        return {};
    }
    if (hops_ >= MaxRedirects) {
        *why = QStringLiteral("的重定向超过了%1次").arg(MaxRedirects);
        return {};
    }
    if (visited_.contains(target)) {
        *why = QStringLiteral("的重定向形成了循环：") + target;
        return {};
    }
    return target;
}

bool clsDown::followRedirect(const QString &url)
{
    ++hops_;
    visited_.append(url);
    currentUrl_ = url;
    analyzeUrl(url, url_);
    // A new answer starts: nothing of the redirect's stays.
    bHeaderDone = false;
    requestSent_ = false;
    ReceiveData.clear();
    header_ = HeaderScanner();
    chunked_ = false;
    chunks_ = ChunkedDecoder();
    status_ = Response::Status::Unknown;
    bodyLeft_ = -1;
    bodyDone_ = false;
    return connectAndSend(!mProxy.isEmpty());
}

SaveResult clsDown::checkResumption(const QByteArray &header, qint64 &Flen)
{
    const bool partial = status_ == Response::Status::Partial206;
    const auto range = Response::contentRange(header);
    if (partial && hasContentRangeLine(header) && (!range || range->first != ReceiveBytes))
        return SaveResult::Error;  // bytes from another place than the one asked for
    if (!rangeSent_)
        return SaveResult::Nothing;
    if (mSizeOpen) {
        // Only the server knows the size of a file this large: a 206 from
        // where ours ends says it, a 200 starts over with its own length.
        const auto exact
            = partial ? (range && range->total > 0 ? std::optional(range->total) : std::nullopt)
                      : Response::contentLength(header);
        if (exact && *exact > 0) {
            Flen = mFlen = *exact;
            mSizeOpen = false;
        }
        return SaveResult::Nothing;
    }
    // The length the server gives now: a 206's total, a 200's Content-Length.
    std::optional<qint64> total;
    if (partial && range && range->total >= 0)
        total = range->total;
    else if (!partial)
        total = Response::contentLength(header);
    if (partial && !total)
        return SaveResult::Nothing;  // a 206 that does not say: the start matched
    if (total == std::optional<qint64>(mFlen))
        return SaveResult::Nothing;
    // Another length: another file. With nothing on disk yet there is nothing
    // to protect, and the new length is the one to count against.
    if (ReceiveBytes == 0 && total && *total > 0) {
        Flen = mFlen = *total;
        return SaveResult::Nothing;
    }
    return SaveResult::Changed;
}

clsDown::Written clsDown::writeBody(const char *data, qint64 n)
{
    DownHost &host = engine_.host();

    // An arrival without body bytes starts nothing over: a server that says
    // 200 and sends nothing leaves what is on disk as it is.
    if (firstWrite_ && n > 0) {
        firstWrite_ = false;
        // A full answer where bytes are already on disk (the server ignored
        // our Range, or an old file sits under the chosen name) starts over:
        // appending would put the file's beginning after old bytes. A
        // negative count (a damaged list) starts over too, or the counts
        // would never match the file. The map and the size column follow
        // with this arrival, drawn from a count of 0.
        const QFileInfo info(mFile);
        const bool onDisk = ReceiveBytes != 0 || (info.exists() && info.size() > 0);
        if (status_ == Response::Status::Ok200 && onDisk) {
            QFile file(mFile);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                return Written::Failed;
            file.close();
            ReceiveBytes = 0;
            if (WhichDown > 0)
                host.task(WhichDown).GotSize = 0;
        }
    }

    // Unbuffered, so a write cut short is cut short on disk too, and the cut
    // below takes it back whatever the arrival's size. A file that already
    // holds bytes of ours is never made anew: deleted, it is the local file
    // that changed.
    QFile file(mFile);
    const QIODevice::OpenMode mode
        = QIODevice::ReadWrite | QIODevice::Unbuffered
          | (ReceiveBytes > 0 ? QIODevice::ExistingOnly : QIODevice::NotOpen);
    if (!file.open(mode))
        return ReceiveBytes > 0 && !file.exists() ? Written::LocalChanged : Written::Failed;
    if (n == 0)
        return Written::Ok;
    // Cut or grown by someone else since our last arrival: whatever we wrote
    // now would land at the wrong place.
    const qint64 before = file.size();
    if (before != ReceiveBytes)
        return Written::LocalChanged;
    // Written before counted: the counts never claim bytes the file lacks.
    bool ok = file.seek(before) && file.write(data, n) == n;
    if (!ok)
        file.resize(before);  // no half arrival stays behind
    file.close();
    if (!ok || file.error() != QFileDevice::NoError)
        return Written::Failed;

    const qint64 already = ReceiveBytes;
    ReceiveBytes += n;
    if (WhichDown > 0)
        host.task(WhichDown).GotSize += n;
    host.DrawDownPic(WhichSocket, n, mFlen, already);
    return Written::Ok;
}
