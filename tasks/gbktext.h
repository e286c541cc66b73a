#pragma once
// Conversion between Qt text and the GBK bytes used on the wire, in the task
// list file and for the clipboard copy of a response header.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace GbkText {

QByteArray encode(const QString &text);
QString decode(QByteArrayView bytes);

// The text in GBK, cut to at most `width` bytes on a whole character and
// filled up with blanks to exactly `width` bytes.
QByteArray encodeField(const QString &text, int width);

}  // namespace GbkText
