#pragma once
// ModDown: the Base64 encoder for the proxy credentials (RFC 4648, standard
// alphabet, "=" padding, no line breaks), over the text's GBK bytes.
#include <QString>

namespace ModDown {

QString Base64Encode(const QString &text);

}  // namespace ModDown
