#pragma once
// clsDown: one download session, on the window's thread. A new one replaces
// the slot's old one at every start; the engine holds it by shared_ptr so a
// session being ended stays alive until its end is written. Its answer's
// bytes are read, written and counted by the slot's worker (Transfer); the
// figures here follow the worker's reports, so they never claim a byte the
// file lacks.
#include "engine/analyzeurl.h"
#include "engine/endreason.h"
#include "tasks/piecemap.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class DownEngine;

class clsDown : public std::enable_shared_from_this<clsDown> {
public:
    explicit clsDown(DownEngine &engine);

    bool bBusy = false;
    QString DownUrl;
    qint16 WhichSocket = 0;
    qint16 WhichDown = 0;
    QString ReceiveData;      // the response text up to the end of its header
    qint64 StartTime = 0;     // monotonic milliseconds when connecting began
    qint64 ReceiveBytes = 0;  // body bytes in the local file
    qint64 mFlen = 0;         // total length; 0 = unknown
    bool bCancel = false;
    QString mProxy;
    qint16 mProxyPort = 0;
    QString mProxyId;
    QString mProxyPass;
    QString mFile;
    // mFlen is a lower bound (2 GiB or more): the server tells the exact size.
    bool mSizeOpen = false;
    // The file is written in pieces: which of its bytes are on disk
    // (ReceiveBytes is then their count), and how many connections run.
    std::optional<PieceMap> pieces;
    int connections = 0;
    // When the server was last heard from (or the request went out), on the
    // engine's clock.
    qint64 lastHeardMs = 0;

    bool AnalyzeUrl();
    // Begins the connect wait (direct, or through the proxy the task names);
    // false when it could not even begin (the session has then been ended).
    bool StartDown();
    bool StartDownNoProxy();
    bool StartDownProxy();

    // In the connect wait: connecting, no request sent yet.
    bool connecting() const { return connecting_; }
    // Through a proxy: the wait's own reason names the proxy.
    bool viaProxy() const { return viaProxy_; }
    // The wait has lasted more whole seconds than it may, at `nowMs`.
    bool connectTimedOut(qint64 nowMs) const;
    // The connection stands: the request goes out, the wait is over.
    void sendRequestNow();
    // The wait is over without a request.
    void endConnectWait() { connecting_ = false; }
    // The user's start (its failure to connect is answered by the window).
    bool fromUser = false;
    // Body bytes on disk when this try began: a try that adds some resets
    // the retry count.
    qint64 startBytes = 0;
    // Why the session ended first (a wait may end it a second time).
    EndReason firstEnd = EndReason::UserCancel;
    // A certificate or a proxy said no: the socket's own end that follows it
    // (an error, a close) ends the session with this reason instead.
    std::optional<EndReason> refusal;

    // What AnalyzeUrl found.
    const QString &host() const { return url_.mHost; }  // for the Host line
    const QString &connectHost() const { return url_.mConnectHost; }
    int port() const { return url_.mPort; }
    const QString &path() const { return url_.mPath; }

    // The request has gone out: from here on a stop ends the session at once.
    bool requestSent() const { return requestSent_; }
    // The server answered that it cannot serve now (408, 429, 500, 502, 503
    // or 504), and how many seconds it asked to wait (-1: it did not say).
    bool serverBusy() const { return serverBusy_; }
    qint64 retryAfterSeconds() const { return retryAfter_; }
    // The body has ended: its declared length or its last chunk has arrived
    // (or a 416 said the file is whole).
    bool bodyDone() const { return bodyDone_; }

    // Where a redirect points, resolved against the URL it answered; empty,
    // with `why` set to a log text, when it is not to be followed.
    QString redirectTarget(QString *why) const;
    // Asks `url` with the same range, proxy and file, in a new connect wait.
    bool followRedirect(const QString &url);
    // The engine this session runs on.
    DownEngine &engine() const { return engine_; }

private:
    friend class DownEngine;  // it brings the worker's figures in
    bool connectAndSend(bool viaProxy);

    DownEngine &engine_;
    UrlParts url_;  // mHost, mPort, mPath as AnalyzeUrl left them
    bool requestSent_ = false;
    bool connecting_ = false;
    bool viaProxy_ = false;
    bool bodyDone_ = false;
    bool serverBusy_ = false;
    qint64 retryAfter_ = -1;
    QByteArray location_;  // the Location of a redirect's answer
    QString currentUrl_;   // the URL asked for now: DownUrl or a redirect's
    QStringList visited_;  // every URL asked for, to see a loop
    int hops_ = 0;
};
