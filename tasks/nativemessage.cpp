#include "tasks/nativemessage.h"

#include "tasks/requestline.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <cstring>

namespace NativeMessage {

namespace {

constexpr qsizetype LengthBytes = 4;

}  // namespace

Frame unframe(QByteArrayView buffer)
{
    Frame f;
    if (buffer.size() < LengthBytes)
        return f;
    quint32 length = 0;
    std::memcpy(&length, buffer.data(), LengthBytes);  // the machine's own order
    if (length > MaxBytes) {
        f.status = FrameStatus::TooLarge;
        return f;
    }
    if (buffer.size() - LengthBytes < qsizetype(length))
        return f;
    f.status = FrameStatus::Complete;
    f.payload = QByteArray(buffer.data() + LengthBytes, qsizetype(length));
    f.consumed = LengthBytes + length;
    return f;
}

QByteArray frame(const QByteArray &payload)
{
    const quint32 length = quint32(payload.size());
    QByteArray bytes(LengthBytes, '\0');
    std::memcpy(bytes.data(), &length, LengthBytes);
    return bytes + payload;
}

Request parse(QByteArrayView json)
{
    Request r;
    QJsonParseError problem{};
    const QJsonDocument doc = QJsonDocument::fromJson(json.toByteArray(), &problem);
    if (problem.error != QJsonParseError::NoError || !doc.isObject()) {
        r.error = QStringLiteral("消息不是JSON对象");
        return r;
    }
    const QJsonObject o = doc.object();
    struct Field {
        const char *name;
        QString UrlMessage::Item::*member;
    };
    static const Field fields[] = {{"url", &UrlMessage::Item::url},
                                   {"referrer", &UrlMessage::Item::referrer},
                                   {"cookies", &UrlMessage::Item::cookies},
                                   {"userAgent", &UrlMessage::Item::userAgent},
                                   {"filename", &UrlMessage::Item::filename}};
    for (const Field &f : fields) {
        const QJsonValue value = o.value(QLatin1String(f.name));
        if (value.isUndefined() || value.isNull())
            continue;
        if (!value.isString()) {
            r.error = QStringLiteral("消息中的字段不是字符串：") + QLatin1String(f.name);
            return r;
        }
        if (holdsControlCharacter(value.toString())) {  // each goes into a header line
            r.error = QStringLiteral("消息中的字段含有控制字符：") + QLatin1String(f.name);
            return r;
        }
        r.item.*(f.member) = value.toString();
    }
    r.item.fromBrowser = true;
    if (r.item.url.isEmpty()) {
        r.error = QStringLiteral("消息中没有URL地址");
        return r;
    }
    const QString scheme = QUrl(r.item.url).scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        r.error = QStringLiteral("无法识别的URL地址");
    return r;
}

QByteArray answer(const QString &error)
{
    QJsonObject o{{QStringLiteral("ok"), error.isEmpty()}};
    if (!error.isEmpty())
        o.insert(QStringLiteral("error"), error);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

}  // namespace NativeMessage
