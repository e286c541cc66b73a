// Any text in the add dialog's proxy port box: blanks anywhere change nothing.
#include "tasks/portparse.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    if (parseProxyPort(text) != parseProxyPort(QStringLiteral(" \t") + text + QStringLiteral("\n ")))
        std::abort();
    return 0;
}
