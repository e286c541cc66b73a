#pragma once
// ModDown: the Base64 encoder for the proxy credentials (RFC 4648, standard
// alphabet, "=" padding, no line breaks), over the text's GBK bytes.
#include <QString>

namespace ModDown {

QString Base64Encode(const QString &text);
// Appends the Base64 text of `text` to `output`, four characters per group.
void Base64Append(const QString &text, QString &output);
// One group: n (1..3) real input bytes in b[0..2] give four characters in out.
void EncodeGroup(unsigned char b[3], char out[4], int n);

} // namespace ModDown
