#pragma once
// clsDown: one download session. A new one replaces the slot's old one at
// every start; the engine and the start handler hold it by shared_ptr so an
// old session whose connect wait is still on the stack stays alive.
#include "engine/analyzeurl.h"
#include "engine/response.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>

class DownEngine;

// What one arrival meant: the status its header showed, or how it failed.
// Changed: the server now has another file than the one we have the start
// of. LocalChanged: the local file is no longer as long as the count.
// Redirect: the answer points elsewhere (redirectTarget says where).
enum class SaveResult {
    Nothing,
    Ok200,
    Partial206,
    NotFound404,
    Error,
    Cancel,
    WriteFail,
    Changed,
    LocalChanged,
    Redirect
};

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
    // When the server was last heard from (or the request went out), on the
    // engine's clock.
    qint64 lastHeardMs = 0;

    bool AnalyzeUrl();
    bool StartDown();
    bool StartDownNoProxy();
    bool StartDownProxy();
    // Takes one arrival: the header, then the body written to mFile and
    // counted. Flen receives a length read in this call.
    SaveResult SaveData(qint64 ByteNum, const QByteArray &ByteData, qint64 &Flen);

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
    enum class Written { Ok, Failed, LocalChanged };
    bool connectAndSend(bool viaProxy);
    // Checks a resumed answer against what we have; Nothing when it fits.
    SaveResult checkResumption(const QByteArray &header, qint64 &Flen);
    Written writeBody(const char *data, qint64 n);

    DownEngine &engine_;
    UrlParts url_;  // mHost, mPort, mPath as AnalyzeUrl left them
    bool bHeaderDone = false;
    bool requestSent_ = false;
    bool rangeSent_ = false;  // the request asked for the rest of a known length
    qint64 bodyLeft_ = -1;    // bytes the answer still declares; -1 = unknown
    bool bodyDone_ = false;
    bool serverBusy_ = false;
    qint64 retryAfter_ = -1;
    QString currentUrl_;   // the URL asked for now: DownUrl or a redirect's
    QStringList visited_;  // every URL asked for, to see a loop
    int hops_ = 0;
    HeaderScanner header_;
    bool chunked_ = false;
    ChunkedDecoder chunks_;
    bool firstWrite_ = true;
    Response::Status status_ = Response::Status::Unknown;
};
