#pragma once
// The one GET request a session sends, as text (sent as GBK bytes).
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
};

QString BuildRequest(const RequestInput &in);

// The value of a Proxy-Authorization line: "Basic " and the credentials.
QString proxyAuthorization(const QString &user, const QString &password);
