#include "tasks/urlmessage.h"

#include <QSet>
#include <QStringDecoder>
#include <algorithm>
#include <array>

namespace {

const QByteArray MessageHeader = QByteArrayLiteral("ZIPVANE-URLS 2\n");
const QByteArray BrowserHeader = QByteArrayLiteral("ZIPVANE-URLS 3\n");
const QByteArray AnswerHeader = QByteArrayLiteral("ZIPVANE-ANSWER 2\n");

// The answer's words, in the order of UrlMessage::Outcome.
const std::array<QByteArray, 4> Words = {"added", "unusable", "listed", "full"};

// No control character but the line breaks that end the lines.
bool isPlainText(QByteArrayView bytes)
{
    for (const char c : bytes) {
        if (c != '\n' && (uchar(c) < 0x20 || uchar(c) == 0x7F))
            return false;
    }
    return true;
}

QByteArray frame(const QByteArray &header, const QList<QByteArray> &lines)
{
    QByteArray bytes = header;
    for (const QByteArray &line : lines)
        bytes += line + '\n';
    return bytes + '\n';
}

struct Unframed {
    UrlMessage::Status status = UrlMessage::Status::Incomplete;
    QByteArray body;  // the lines, each with its line break, when Complete
};

// The header, the lines and the blank line that ends them, and nothing more.
Unframed unframe(const QByteArray &header, const QByteArray &received)
{
    using UrlMessage::Status;
    if (received.size() > UrlMessage::MaxBytes)
        return {Status::Refused, {}};
    if (!received.startsWith(header))
        return {header.startsWith(received) ? Status::Incomplete : Status::Refused, {}};
    // The first "\n\n" from the header's own line break on. No line can be
    // empty, since the first blank line ends the whole.
    const qsizetype end = received.indexOf("\n\n", header.size() - 1);
    if (end < 0)
        return {Status::Incomplete, {}};
    if (end + 2 != received.size())
        return {Status::Refused, {}};  // nothing may follow the end
    return {Status::Complete, received.mid(header.size(), end + 1 - header.size())};
}

// The lines of a version 3 item, after its "url" line, by name.
struct ItemField {
    const char *name;
    QString UrlMessage::Item::*member;
};
const ItemField ItemFields[] = {{"referrer", &UrlMessage::Item::referrer},
                                {"cookies", &UrlMessage::Item::cookies},
                                {"userAgent", &UrlMessage::Item::userAgent},
                                {"filename", &UrlMessage::Item::filename}};

// Version 3's lines: "url" starts an item, each other field at most once
// after it; an empty value is no value.
std::optional<QList<UrlMessage::Item>> browserItems(const QString &text)
{
    QList<UrlMessage::Item> items;
    QSet<QString> seen;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype blank = line.indexOf(QLatin1Char(' '));
        const QString name = line.left(blank), value = blank < 0 ? QString() : line.mid(blank + 1);
        if (name == QLatin1String("url")) {
            items.append({value, true, {}, {}, {}, {}});
            seen.clear();
            continue;
        }
        const auto field = std::find_if(std::begin(ItemFields), std::end(ItemFields),
                                        [&](const ItemField &f) { return name == f.name; });
        if (items.isEmpty() || field == std::end(ItemFields) || seen.contains(name))
            return std::nullopt;
        seen.insert(name);
        items.last().*(field->member) = value;
    }
    return items;
}

}  // namespace

namespace UrlMessage {

QList<Item> itemsOf(const QStringList &urls)
{
    QList<Item> items;
    for (const QString &url : urls)
        items.append({url, false, {}, {}, {}, {}});
    return items;
}

bool carries(const QString &url)
{
    const QByteArray line = url.toUtf8();
    return !line.isEmpty() && !line.contains('\n') && isPlainText(line);
}

std::optional<QByteArray> encode(const QList<Item> &items)
{
    const bool browser
        = std::any_of(items.begin(), items.end(), [](const Item &i) { return i.fromBrowser; });
    QList<QByteArray> lines;
    for (const Item &item : items) {
        if (!carries(item.url))
            return std::nullopt;
        lines << (browser ? "url " : "") + item.url.toUtf8();
        for (const ItemField &f : ItemFields) {
            const QString &value = item.*(f.member);
            if (!browser || value.isEmpty())
                continue;
            if (!carries(value))
                return std::nullopt;
            lines << f.name + (' ' + value.toUtf8());
        }
    }
    const QByteArray message = frame(browser ? BrowserHeader : MessageHeader, lines);
    if (message.size() > MaxBytes)
        return std::nullopt;
    return message;
}

Parsed parse(const QByteArray &received)
{
    // Until the version's digit has come, either header may follow.
    const bool browser = received.startsWith(BrowserHeader.left(received.size()));
    const Unframed message = unframe(browser ? BrowserHeader : MessageHeader, received);
    if (message.status != Status::Complete)
        return {message.status, {}};
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(message.body);
    if (!isPlainText(message.body) || utf8.hasError())
        return {Status::Refused, {}};
    if (!browser)
        return {Status::Complete, itemsOf(text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))};
    const std::optional<QList<Item>> items = browserItems(text);
    if (!items)
        return {Status::Refused, {}};
    return {Status::Complete, *items};
}

QByteArray encodeAnswer(const QList<Outcome> &outcomes)
{
    QList<QByteArray> lines;
    for (const Outcome outcome : outcomes)
        lines << Words.at(size_t(outcome));
    return frame(AnswerHeader, lines);
}

ParsedAnswer parseAnswer(const QByteArray &received, qsizetype sent)
{
    const Unframed answer = unframe(AnswerHeader, received);
    if (answer.status != Status::Complete)
        return {answer.status, {}};
    QList<Outcome> outcomes;
    for (const QByteArray &word : answer.body.split('\n')) {
        if (word.isEmpty())
            continue;  // after the last line break
        const auto known = std::find(Words.begin(), Words.end(), word);
        if (known == Words.end())
            return {Status::Refused, {}};
        outcomes << Outcome(known - Words.begin());
    }
    if (outcomes.size() != sent)
        return {Status::Refused, {}};
    return {Status::Complete, outcomes};
}

}  // namespace UrlMessage
