#pragma once
// What a later start of the program (or the browser's host) sends to the one
// that holds the task list, and the answer it gets. Both are a fixed first
// line that names their version, one item a line, then a blank line: the
// message carries the URLs (UTF-8), the answer one word a URL, in the same
// order, for what became of it. Neither side trusts the other: anything
// else, or more than MaxBytes, is refused whole.
//
// A link from the browser comes with what the site needs (referrer, cookies,
// user agent) and the name the browser suggests. Such a message has the
// version 3: "url " + URL starts an item, and lines "referrer ", "cookies ",
// "userAgent ", "filename " + value follow it. A program that knows only
// version 2 refuses it whole (its first line is not the one it knows), so
// nothing is taken without the headers it needs; plain URLs still go as
// version 2, which every program takes.
#include <QByteArray>
#include <QList>
#include <QStringList>
#include <optional>

namespace UrlMessage {

constexpr qsizetype MaxBytes = 256 * 1024;

// False for a URL no message can carry: an empty one, or one with a line
// break or another control character (no usable URL has one).
bool carries(const QString &url);

// One URL handed over. From the browser it starts at once, with the rest.
struct Item {
    QString url;
    bool fromBrowser = false;
    QString referrer, cookies, userAgent, filename;
};
QList<Item> itemsOf(const QStringList &urls);

// Nothing when an item cannot be carried or the items do not fit in one
// message. Items from the browser go as version 3, with all their fields.
std::optional<QByteArray> encode(const QList<Item> &items);
inline std::optional<QByteArray> encode(const QStringList &urls)
{
    return encode(itemsOf(urls));
}

enum class Status { Incomplete, Complete, Refused };
struct Parsed {
    Status status = Status::Incomplete;
    QList<Item> items;  // when Complete
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
