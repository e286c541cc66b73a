#pragma once
// Cutting a task's URL into what the request and the connection need.
#include <QString>

struct UrlParts {
    QString mHost;         // after "http://" up to the first "/": the Host line
    QString mConnectHost;  // mHost without a ":port" (and without IPv6 brackets)
    int mPort = 80;        // the port written in the URL, else 80 (443 for https)
    QString mPath;         // from the first "/" after the host to the end
    QString mFile;         // after the last "/" of the whole URL
    QString mTarget;       // the whole URL as a proxy is asked for it
    bool mSecure = false;  // https: the same request, over TLS
};

// A "#fragment" is the reader's, never sent; mPath and mTarget carry a blank
// as "%20", since a raw blank would end the request target early.
// False for an unusable URL. Parts found before the failing step stay
// written, as the session's members did.
bool analyzeUrl(const QString &DownUrl, UrlParts &parts);
