#include "engine/moddown.h"

#include "tasks/gbktext.h"

namespace ModDown {

namespace {

// The alphabet is built from the codes of a few characters instead of a table.
char sextetChar(int v)
{
    if (v <= 25)
        return char('A' + v);
    if (v <= 51)
        return char('a' + (v - 26));
    if (v <= 61)
        return char('0' + (v - 52));
    return v == 62 ? '+' : '/';
}

} // namespace

QString Base64Encode(const QString &text)
{
    QString output;
    Base64Append(text, output);
    return output;
}

void Base64Append(const QString &text, QString &output)
{
    // The credentials go on the wire in GBK, so they are encoded from those
    // bytes, never from the text's 16-bit units.
    const QByteArray bytes = GbkText::encode(text);
    const qsizetype n = bytes.size();
    output.reserve(output.size() + (n + 2) / 3 * 4);
    for (qsizetype i = 0; i < n; i += 3) {
        const int count = int(qMin<qsizetype>(3, n - i));
        unsigned char group[3] = {0, 0, 0};
        for (int k = 0; k < count; ++k)
            group[k] = static_cast<unsigned char>(bytes[i + k]);
        char out[4];
        EncodeGroup(group, out, count);
        output += QLatin1String(out, 4);
    }
}

void EncodeGroup(unsigned char b[3], char out[4], int n)
{
    if (n == 1) {
        b[1] = 0;
        b[2] = 0;
    } else if (n == 2) {
        b[2] = 0;
    }
    out[0] = sextetChar(b[0] >> 2);
    out[1] = sextetChar((b[0] & 3) * 16 + (b[1] & 0xF0) / 16);
    out[2] = sextetChar((b[1] & 0x0F) * 4 + (b[2] & 0xC0) / 64);
    out[3] = sextetChar(b[2] & 0x3F);
    if (n == 1) {
        out[2] = '=';
        out[3] = '=';
    } else if (n == 2) {
        out[3] = '=';
    }
}

} // namespace ModDown
