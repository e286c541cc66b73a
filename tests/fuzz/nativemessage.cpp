// Any bytes on the native host's stdin: the frames it reads are inside the
// bytes and in order, and a message it takes carries only what a request
// line can hold and goes through the hand-over to the running program whole.
#include "tasks/nativemessage.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray rest(reinterpret_cast<const char *>(data), qsizetype(size));
    for (;;) {
        const NativeMessage::Frame f = NativeMessage::unframe(rest);
        if (f.status != NativeMessage::FrameStatus::Complete)
            break;
        if (f.consumed != 4 + f.payload.size() || f.consumed > rest.size()
            || rest.mid(4, f.payload.size()) != f.payload)
            std::abort();
        rest.remove(0, f.consumed);
        const NativeMessage::Request r = NativeMessage::parse(f.payload);
        if (!r.error.isEmpty())
            continue;
        const UrlMessage::Item &item = r.item;
        for (const QString &field :
             {item.url, item.referrer, item.cookies, item.userAgent, item.filename}) {
            for (const QChar c : field)
                if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                    std::abort();
        }
        const std::optional<QByteArray> message = UrlMessage::encode(QList{item});
        if (!message)
            continue;  // too large for one hand-over: the host says so
        const UrlMessage::Parsed back = UrlMessage::parse(*message);
        if (back.status != UrlMessage::Status::Complete || back.items.size() != 1)
            std::abort();
        const UrlMessage::Item &got = back.items[0];
        if (got.url != item.url || got.referrer != item.referrer || got.cookies != item.cookies
            || got.userAgent != item.userAgent || got.filename != item.filename
            || !got.fromBrowser)
            std::abort();
    }
    return 0;
}
