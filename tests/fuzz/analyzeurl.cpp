// Any text as a task's URL: one that is taken is cut after "http://" without
// losing or adding a character, and holds no control character that could
// end up in the request.
#include "engine/analyzeurl.h"

#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString url = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto control = [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; };
    UrlParts p;
    if (analyzeUrl(url, p)
        && (p.mHost + p.mPath != url.mid(7) || std::any_of(url.begin(), url.end(), control)))
        std::abort();
    return 0;
}
