// Any text in the add dialog's proxy port box: blanks, tabs and line ends put
// anywhere in it change nothing.
#include "tasks/portparse.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    for (qsizetype at = 0; at <= text.size(); ++at)
        if (parseProxyPort(text.left(at) + " \t\r\n" + text.mid(at)) != parseProxyPort(text))
            std::abort();
    return 0;
}
