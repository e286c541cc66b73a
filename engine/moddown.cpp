#include "engine/moddown.h"

#include "tasks/gbktext.h"

namespace ModDown {

QString Base64Encode(const QString &text)
{
    // The credentials go on the wire in GBK, so they are encoded from those
    // bytes, never from the text's 16-bit units.
    return QString::fromLatin1(GbkText::encode(text).toBase64());
}

}  // namespace ModDown
