#include "tasks/gbktext.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace GbkText {

QByteArray encode(const QString &text)
{
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

QString decode(QByteArrayView bytes)
{
    // A lead byte at the very end would wait in the decoder for a second
    // byte and vanish with it; a blank, never part of a two-byte character,
    // brings it out as U+FFFD and is taken off again.
    QStringDecoder decoder("GBK");
    QString text = decoder.decode(bytes);
    text += decoder.decode(QByteArrayView(" ", 1));
    text.chop(1);
    return text;
}

QByteArray encodeField(const QString &text, int width)
{
    QByteArray field;
    field.reserve(width);
    QStringEncoder encoder("GBK");
    // Encode character by character (a surrogate pair is one character) so a
    // cut never leaves half of a two-byte character behind.
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype n = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QByteArray bytes = encoder.encode(QStringView(text).mid(i, n));
        if (field.size() + bytes.size() > width)
            break;
        field += bytes;
        i += n;
    }
    field.append(width - field.size(), ' ');
    return field;
}

}  // namespace GbkText
