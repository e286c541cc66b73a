#include "tasks/portparse.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

// The number at the start of the text, as the user's text box reads it.
double leadingNumber(const QString &text)
{
    std::string s;
    for (const QChar c : text) {
        if (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r')
            continue;
        s.push_back(c.unicode() < 128 ? char(c.unicode()) : '\x01');
    }
    std::size_t i = 0;
    std::string number;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        number.push_back(s[i++]);
    bool digits = false;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        number.push_back(s[i++]);
        digits = true;
    }
    if (i < s.size() && s[i] == '.') {
        number.push_back(s[i++]);
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            number.push_back(s[i++]);
            digits = true;
        }
    }
    if (!digits)
        return 0;
    // An exponent counts only when digits follow it.
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            exponent.push_back(s[j++]);
        if (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
            while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])))
                exponent.push_back(s[j++]);
            number += exponent;
        }
    }
    return std::strtod(number.c_str(), nullptr);
}

}  // namespace

std::optional<qint16> parseProxyPort(const QString &text)
{
    const double value = std::nearbyint(leadingNumber(text));  // halves to even
    if (!std::isfinite(value) || value < std::numeric_limits<qint16>::min()
        || value > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return qint16(value);
}
