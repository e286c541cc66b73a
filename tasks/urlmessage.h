#pragma once
// What a later start of the program sends to the one that holds the task
// list: a fixed first line, one URL a line (UTF-8), then a blank line. The
// receiver trusts nothing in it: a message that is anything else, or larger
// than MaxBytes, is refused whole.
#include <QByteArray>
#include <QStringList>
#include <optional>

namespace UrlMessage {

constexpr qsizetype MaxBytes = 256 * 1024;

// Nothing when the URLs do not fit in one message (or one holds a line
// break or another control character, which no URL has).
std::optional<QByteArray> encode(const QStringList &urls);

enum class Status { Incomplete, Complete, Refused };
struct Parsed {
    Status status = Status::Incomplete;
    QStringList urls;  // when Complete
};
// What the bytes received so far on one connection amount to.
Parsed parse(const QByteArray &received);

}  // namespace UrlMessage
