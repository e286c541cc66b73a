#pragma once
// What may go into a line of a request: text from a user, a list or a
// browser ends up in the request line or a header line, where CR, LF or any
// other control character could end the line early and forge lines of its own.
#include <QStringView>

inline bool holdsControlCharacter(QStringView text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    }
    return false;
}
