#pragma once
// What a later start of the program sends to the one that holds the task
// list, and the answer it gets. Both are a fixed first line, one item a line,
// then a blank line: the message carries the URLs (UTF-8), the answer one
// word a URL, in the same order, for what became of it. Neither side trusts
// the other: anything else, or more than MaxBytes, is refused whole.
#include <QByteArray>
#include <QList>
#include <QStringList>
#include <optional>

namespace UrlMessage {

constexpr qsizetype MaxBytes = 256 * 1024;

// False for a URL no message can carry: an empty one, or one with a line
// break or another control character (no usable URL has one).
bool carries(const QString &url);

// Nothing when a URL cannot be carried or the URLs do not fit in one message.
std::optional<QByteArray> encode(const QStringList &urls);

enum class Status { Incomplete, Complete, Refused };
struct Parsed {
    Status status = Status::Incomplete;
    QStringList urls;  // when Complete
};
// What the bytes received so far on one connection amount to.
Parsed parse(const QByteArray &received);

// What became of one URL handed over.
enum class Outcome { Added, Unusable, Listed, Full };

QByteArray encodeAnswer(const QList<Outcome> &outcomes);

struct ParsedAnswer {
    Status status = Status::Incomplete;
    QList<Outcome> outcomes;  // when Complete
};
// The answer received so far to a message of `sent` URLs: Refused unless it
// holds exactly one known word for each.
ParsedAnswer parseAnswer(const QByteArray &received, qsizetype sent);

}  // namespace UrlMessage
