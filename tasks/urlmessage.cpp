#include "tasks/urlmessage.h"

#include <QStringDecoder>

namespace {

const QByteArray Header = QByteArrayLiteral("ZIPVANE-URLS 1\n");

// No control character but the line breaks that end the URLs.
bool isPlainText(QByteArrayView bytes)
{
    for (const char c : bytes) {
        if (c != '\n' && (uchar(c) < 0x20 || uchar(c) == 0x7F))
            return false;
    }
    return true;
}

}  // namespace

namespace UrlMessage {

std::optional<QByteArray> encode(const QStringList &urls)
{
    QByteArray message = Header;
    for (const QString &url : urls) {
        const QByteArray line = url.toUtf8();
        if (line.isEmpty() || line.contains('\n') || !isPlainText(line))
            return std::nullopt;
        message += line + '\n';
    }
    message += '\n';
    if (message.size() > MaxBytes)
        return std::nullopt;
    return message;
}

Parsed parse(const QByteArray &received)
{
    if (received.size() > MaxBytes)
        return {Status::Refused, {}};
    if (!received.startsWith(Header))
        return {Header.startsWith(received) ? Status::Incomplete : Status::Refused, {}};
    // The blank line that ends the message: the first "\n\n" from the
    // header's own line break on.
    const qsizetype end = received.indexOf("\n\n", Header.size() - 1);
    if (end < 0)
        return {Status::Incomplete, {}};
    if (end + 2 != received.size())
        return {Status::Refused, {}};  // nothing may follow the end

    // One URL a line, each ended by its line break; no line can be empty,
    // since the first blank line ends the message.
    const QByteArray body = received.mid(Header.size(), end + 1 - Header.size());
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(body);
    if (!isPlainText(body) || utf8.hasError())
        return {Status::Refused, {}};
    return {Status::Complete, text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)};
}

}  // namespace UrlMessage
