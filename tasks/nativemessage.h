#pragma once
// What a browser's extension says to the native host, and the host's answer:
// each message a 4-byte length in the machine's own byte order, then that
// many bytes of UTF-8 JSON. A link is one object with the string fields
// "url" (required, http or https), "referrer", "cookies" (a Cookie header's
// value), "userAgent" and "filename"; other fields are passed over. Nothing
// here trusts the bytes: anything else is an error with its reason.
#include "tasks/urlmessage.h"

#include <QByteArray>
#include <QString>

namespace NativeMessage {

// The largest message a host takes, and the largest answer a browser takes.
constexpr quint32 MaxBytes = 1024 * 1024;

enum class FrameStatus { Incomplete, Complete, TooLarge };
struct Frame {
    FrameStatus status = FrameStatus::Incomplete;
    QByteArray payload;      // when Complete
    qsizetype consumed = 0;  // bytes of the buffer the frame took, when Complete
};
// The first message in `buffer`, the bytes read so far.
Frame unframe(QByteArrayView buffer);
// `payload` with its length before it.
QByteArray frame(const QByteArray &payload);

struct Request {
    UrlMessage::Item item;  // fromBrowser, when error is empty
    QString error;          // why it cannot be taken, in the log's words
};
Request parse(QByteArrayView json);

// {"ok":true}, or {"ok":false,"error":…} for a non-empty `error`.
QByteArray answer(const QString &error = {});

}  // namespace NativeMessage
