// Any text as a task's URL: one that is taken is cut without losing or adding
// a character, and its request, direct or through a proxy whose account is
// the same text, has nine line ends (ten with the account's line), each a
// CR LF, ending in a blank line, and no other control byte.
#include "engine/analyzeurl.h"
#include "engine/request.h"
#include "tasks/gbktext.h"

#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString url = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    UrlParts p;
    if (!analyzeUrl(url, p))
        return 0;
    if (p.mHost + p.mPath != url.mid(7) || !p.mPath.startsWith(u'/') || p.mHost.contains(u'/')
        || p.mFile != url.section(u'/', -1) || p.mPort < 1 || p.mPort > 65535)
        std::abort();
    for (const bool viaProxy : {false, true}) {
        const QByteArray request
            = GbkText::encode(BuildRequest({viaProxy, p.mPath, url, p.mHost, url, url, 100, 10}));
        const auto controls = std::count_if(request.begin(), request.end(),
                                            [](char c) { return quint8(c) < 0x20 || c == 0x7F; });
        if (controls != 2 * request.count("\r\n") || request.count("\r\n") != 9 + viaProxy
            || !request.endsWith("\r\n\r\n"))
            std::abort();
    }
    return 0;
}
