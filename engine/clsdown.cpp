#include "engine/clsdown.h"

#include "engine/downengine.h"
#include "engine/requestplan.h"

#include <QUrl>

namespace {

// Connect time-outs in whole seconds: more than this gives up.
constexpr qint64 DirectTimeoutSeconds = 20;
constexpr qint64 ProxyTimeoutSeconds = 10;

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
    viaProxy_ = viaProxy;
    if (WhichSocket < 0 || WhichSocket > 2 || (viaProxy && mProxyPort <= 0)) {
        engine_.CloseSocket(shared_from_this(),
                            viaProxy ? EndReason::ProxyTimeout : EndReason::ConnectTimeout);
        return false;
    }
    StartTime = engine_.host().monotonicMs();
    SlotCommand connect;
    connect.kind = SlotCommand::Kind::Connect;
    connect.host = viaProxy ? mProxy : url_.mConnectHost;
    connect.port = viaProxy ? quint16(mProxyPort) : quint16(url_.mPort);
    // https goes through a proxy as a tunnel: the proxy sees neither the
    // request nor the answer, and the certificate is the server's.
    connect.tlsPeerName = url_.mSecure ? url_.mConnectHost : QString();
    if (url_.mSecure && viaProxy) {
        const QString host = url_.mConnectHost.contains(QLatin1Char(':'))
                                 ? QLatin1Char('[') + url_.mConnectHost + QLatin1Char(']')
                                 : url_.mConnectHost;
        connect.tunnelTarget = host + QLatin1Char(':') + QString::number(url_.mPort);
        if (!mProxyId.isEmpty())
            connect.tunnelAuthorization = proxyAuthorization(mProxyId, mProxyPass);
    }
    connecting_ = true;
    engine_.connectSlot(WhichSocket, std::move(connect));
    engine_.watchConnectWait();
    return true;
}

bool clsDown::connectTimedOut(qint64 nowMs) const
{
    const qint64 limit = viaProxy_ ? ProxyTimeoutSeconds : DirectTimeoutSeconds;
    return (nowMs - StartTime) / 1000 > limit;
}

void clsDown::sendRequestNow()
{
    connecting_ = false;
    RequestInput in;
    in.viaProxy = viaProxy_ && !url_.mSecure;
    in.mPath = url_.mPath;
    in.DownUrl = url_.mTarget;
    in.mHost = url_.mHost;
    in.mProxyId = mProxyId;
    in.mProxyPass = mProxyPass;
    in.mFlen = mFlen;
    // With pieces on disk the request fills the first hole; the other
    // holes go to further connections.
    in.ReceiveBytes = pieces ? pieces->prefix() : ReceiveBytes;
    in.mSizeOpen = mSizeOpen;
    if (WhichDown > 0) {
        const TaskRecord &task = engine_.model().task(WhichDown);
        in.Validator = task.Validator;
        in.userAgent = task.UserAgent, in.referrer = task.Referrer, in.cookie = task.Cookies;
        in.cookieOrigin = task.CookieOrigin;
    }
    in.origin = originOf(currentUrl_);
    const RequestPlan plan(in);
    engine_.sendRequest(WhichSocket, plan.request(), {plan, mFile, false, {}}, in, pieces);
    requestSent_ = true;
    lastHeardMs = engine_.host().monotonicMs();
}

QString clsDown::redirectTarget(QString *why) const
{
    constexpr int MaxRedirects = 20;
    const std::optional<QByteArray> location
        = location_.isEmpty() ? std::nullopt : std::optional(location_);
    if (!location) {
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
    // A new answer starts: nothing of the redirect's stays (the worker starts
    // a new Transfer with the request).
    requestSent_ = false;
    ReceiveData.clear();
    location_.clear();
    bodyDone_ = false;
    return connectAndSend(!mProxy.isEmpty());
}
