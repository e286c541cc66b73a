#include "tasks/urlmessage.h"

#include <QStringDecoder>

namespace {

const QByteArray Header = QByteArrayLiteral("ZIPVANE-URLS 1\n");

bool isUsableLine(const QByteArray &line)
{
    if (line.isEmpty())
        return false;
    for (const char c : line) {
        if (uchar(c) < 0x20 || uchar(c) == 0x7F)
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
        if (!isUsableLine(line))
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

    Parsed parsed{Status::Complete, {}};
    const QByteArray body = received.mid(Header.size(), end + 1 - Header.size());
    qsizetype from = 0;
    while (from < body.size()) {
        const qsizetype nl = body.indexOf('\n', from);
        const QByteArray line = body.mid(from, nl - from);
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString url = utf8.decode(line);
        if (!isUsableLine(line) || utf8.hasError())
            return {Status::Refused, {}};
        parsed.urls << url;
        from = nl + 1;
    }
    return parsed;
}

}  // namespace UrlMessage
