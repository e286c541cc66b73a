// Any text as a task's URL: one that is taken must not put a line end or any
// other control character into the request, direct or through a proxy.
#include "tasks/gbktext.h"
#include "engine/analyzeurl.h"
#include "engine/request.h"

#include <cstdlib>

namespace {

int controlBytes(const QString &request)
{
    int count = 0;
    for (const char c : GbkText::encode(request))
        count += (quint8(c) < 0x20 || c == 0x7F) ? 1 : 0;
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString url = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    UrlParts parts;
    if (!analyzeUrl(url, parts))
        return 0;
    for (const bool viaProxy : {false, true}) {
        RequestInput in{viaProxy, parts.mPath, url, parts.mHost, {}, {}, 100, 10};
        RequestInput plain{viaProxy, QStringLiteral("/f"), QStringLiteral("http://h/f"), QStringLiteral("h"), {}, {}, 100, 10};
        if (controlBytes(BuildRequest(in)) != controlBytes(BuildRequest(plain)))
            std::abort();
    }
    return 0;
}
