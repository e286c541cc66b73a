#include "engine/request.h"

#include "engine/moddown.h"

QString BuildRequest(const RequestInput &in)
{
    static const QString crlf = QStringLiteral("\r\n");
    QString request;
    request += QStringLiteral("GET ") + (in.viaProxy ? in.DownUrl : in.mPath)
               + QStringLiteral(" HTTP/1.1") + crlf;
    request += QStringLiteral("Accept: */*") + crlf;
    // Standard header names: a blank inside a header name makes servers such
    // as nginx answer 400. Only the identity coding is asked for, because the
    // body is stored exactly as received.
    request += QStringLiteral("Accept-Language: zh-cn") + crlf;
    request += QStringLiteral("Accept-Encoding: identity") + crlf;
    request += QStringLiteral("User-Agent: Zipvane1.0") + crlf;
    request += QStringLiteral("Host: ") + in.mHost + crlf;
    if (in.viaProxy && !in.mProxyId.isEmpty()) {
        request += QStringLiteral("Proxy-Authorization: ")
                   + proxyAuthorization(in.mProxyId, in.mProxyPass) + crlf;
    }
    // Without a known length there is nothing to resume against.
    if (in.mFlen > 0)
        request += QStringLiteral("Range: bytes=") + QString::number(in.ReceiveBytes)
                   + QLatin1Char('-') + crlf;
    request += QStringLiteral("Connection: close") + crlf;
    request += crlf;
    return request;
}

QString proxyAuthorization(const QString &user, const QString &password)
{
    return QStringLiteral("Basic ") + ModDown::Base64Encode(user + QLatin1Char(':') + password);
}
