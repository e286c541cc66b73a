#include "engine/analyzeurl.h"

#include "tasks/requestline.h"

namespace {

bool parsePort(QStringView text, int &port)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 1 || value > 65535)
        return false;
    port = value;
    return true;
}

// The Host line keeps a ":port" written in the URL, but the connection needs
// the bare host name (without IPv6 brackets) and the port as a number.
bool splitHostPort(const QString &host, QString &connectHost, int &port, int defaultPort)
{
    port = defaultPort;
    QStringView rest;
    if (host.startsWith(QLatin1Char('['))) {
        const qsizetype close = host.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        connectHost = host.mid(1, close - 1);
        rest = QStringView(host).mid(close + 1);
        if (rest.isEmpty())
            return true;
        if (!rest.startsWith(QLatin1Char(':')))
            return false;
        return parsePort(rest.mid(1), port);
    }
    const qsizetype colon = host.indexOf(QLatin1Char(':'));
    if (colon < 0) {
        connectHost = host;
        return true;
    }
    connectHost = host.left(colon);
    return parsePort(QStringView(host).mid(colon + 1), port);
}

}  // namespace

bool analyzeUrl(const QString &DownUrl, UrlParts &parts)
{
    if (holdsControlCharacter(DownUrl))
        return false;
    const QString url = DownUrl.left(DownUrl.indexOf(QLatin1Char('#')));
    // An https URL is taken as it starts; an http one wherever its scheme
    // stands, cut as if it started there (and failing later, when it connects).
    parts.mSecure = url.startsWith(QLatin1String("https://"));
    if (!parts.mSecure && !url.contains(QLatin1String("http://")))
        return false;
    const qsizetype hostAt = parts.mSecure ? 8 : 7;
    parts.mPort = parts.mSecure ? 443 : 80;
    const qsizetype slash = url.indexOf(QLatin1Char('/'), hostAt);
    if (slash < 0)
        return false;
    parts.mHost = url.mid(hostAt, slash - hostAt);
    if (!splitHostPort(parts.mHost, parts.mConnectHost, parts.mPort, parts.mPort))
        return false;
    parts.mPath = url.mid(slash).replace(QLatin1Char(' '), QLatin1String("%20"));
    parts.mTarget = QString(url).replace(QLatin1Char(' '), QLatin1String("%20"));
    const qsizetype last = url.lastIndexOf(QLatin1Char('/'));
    if (last <= hostAt)
        return false;
    parts.mFile = url.mid(last + 1);
    return true;
}
