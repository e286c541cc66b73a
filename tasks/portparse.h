#pragma once
// Reading the proxy port the user typed: the number at the start of the
// text, blanks, tabs and line feeds anywhere ignored, reading stopped at the
// first character that cannot continue the number, 0 when there is none,
// rounded to the nearest integer with halves to even.
#include <QString>
#include <optional>

// The rounded value, or nothing when it does not fit a 16-bit signed port.
std::optional<qint16> parseProxyPort(const QString &text);
