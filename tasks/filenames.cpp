#include "tasks/filenames.h"

#include <QDir>
#include <QList>
#include <QStringDecoder>

namespace FileNames {

namespace {

const QString Fallback = QStringLiteral("index.html");
constexpr int MaxNameBytes = 255;

QString percentDecoded(QByteArrayView bytes, bool latin1)
{
    const QByteArray raw = QByteArray::fromPercentEncoding(bytes.toByteArray());
    return latin1 ? QString::fromLatin1(raw) : QString::fromUtf8(raw);
}

// The parameters of a header value ("attachment; filename=\"a b\"; x=y"):
// names lowered, quoted strings unquoted.
QList<std::pair<QByteArray, QByteArray>> parameters(QByteArrayView value)
{
    QList<std::pair<QByteArray, QByteArray>> found;
    qsizetype i = 0;
    const auto skipBlanks = [&] {
        while (i < value.size() && (value[i] == ' ' || value[i] == '\t'))
            ++i;
    };
    while (i < value.size()) {
        // Up to the next ';' outside quotes: one parameter, or the type first.
        QByteArray name, text;
        bool inName = true, quoted = false;
        skipBlanks();
        for (; i < value.size(); ++i) {
            const char c = value[i];
            if (quoted) {
                if (c == '\\' && i + 1 < value.size())
                    text += value[++i];
                else if (c == '"')
                    quoted = false;
                else
                    text += c;
            } else if (c == ';') {
                break;
            } else if (inName && c == '=') {
                inName = false;
                while (i + 1 < value.size() && (value[i + 1] == ' ' || value[i + 1] == '\t'))
                    ++i;
            } else if (!inName && c == '"' && text.isEmpty()) {
                quoted = true;
            } else {
                (inName ? name : text) += c;
            }
        }
        ++i;  // past the ';'
        if (!inName)
            found.append({name.trimmed().toLower(), quoted ? text : text.trimmed()});
    }
    return found;
}

// RFC 8187: charset'language'percent-encoded.
std::optional<QString> extendedValue(const QByteArray &value)
{
    const qsizetype first = value.indexOf('\''), second = value.indexOf('\'', first + 1);
    if (first < 0 || second < 0)
        return std::nullopt;
    const QByteArray charset = value.left(first).toLower();
    if (charset != "utf-8" && charset != "iso-8859-1")
        return std::nullopt;
    return percentDecoded(QByteArrayView(value).sliced(second + 1), charset == "iso-8859-1");
}

// The last dot that is not the name's first character, or -1.
qsizetype extensionDot(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? dot : -1;
}

// At most `most` bytes of UTF-8, cut between characters, the extension kept
// where it is short enough to leave room for a name.
QString shortened(const QString &name, qsizetype most = MaxNameBytes)
{
    if (name.toUtf8().size() <= most)
        return name;
    const qsizetype dot = extensionDot(name);
    const QString extension = dot >= 0 && name.size() - dot <= 32 ? name.mid(dot) : QString();
    QString stem = name.left(name.size() - extension.size());
    const qsizetype room = most - extension.toUtf8().size();
    while (!stem.isEmpty() && stem.toUtf8().size() > room) {
        stem.chop(1);
        if (!stem.isEmpty() && stem.back().isHighSurrogate())
            stem.chop(1);
    }
    return stem + extension;
}

QString cleaned(const QString &name)
{
    QString out;
    out.reserve(name.size());
    for (const QChar c : name) {
        if (c == u'/' || c == u'\\')
            out += u'_';
        else if (c.unicode() >= 0x20 && c.unicode() != 0x7f
                 && !(c.unicode() >= 0x80 && c.unicode() < 0xa0))
            out += c;
    }
    qsizetype dots = 0;
    while (dots < out.size() && out[dots] == u'.')
        ++dots;
    return shortened(out.mid(dots).trimmed());
}

}  // namespace

QString fromUrl(const QString &url)
{
    QString rest = url.section(u'#', 0, 0).section(u'?', 0, 0);
    const qsizetype scheme = rest.indexOf(QStringLiteral("://"));
    if (scheme >= 0)
        rest = rest.mid(scheme + 3);
    const qsizetype slash = rest.indexOf(u'/');
    if (slash < 0)
        return Fallback;
    const QString name = percentDecoded(rest.mid(rest.lastIndexOf(u'/') + 1).toUtf8(), false);
    return name.isEmpty() ? Fallback : name;
}

std::optional<QString> fromContentDisposition(QByteArrayView value)
{
    std::optional<QString> plain;
    for (const auto &[name, text] : parameters(value)) {
        if (name == "filename*") {
            if (const std::optional<QString> extended = extendedValue(text))
                return extended;
        } else if (name == "filename" && !plain) {
            plain = QString::fromUtf8(text);
        }
    }
    return plain;
}

QString safe(const QString &name, const QString &fallback)
{
    for (const QString &candidate : {name, fallback}) {
        const QString made = cleaned(candidate);
        if (!made.isEmpty())
            return made;
    }
    return Fallback;
}

QString numbered(const QString &name, int number)
{
    const QString mark = QStringLiteral(" (%1)").arg(number);
    const qsizetype dot = extensionDot(name);
    return dot >= 0 ? name.left(dot) + mark + name.mid(dot) : name + mark;
}

QString freePath(const QString &folder, const QString &name,
                 const std::function<bool(const QString &path)> &taken)
{
    const QDir dir(folder);
    QString path = dir.filePath(name);
    for (int number = 1; taken(path); ++number) {
        // The number is never cut off: the name makes room for it.
        const qsizetype mark = QStringLiteral(" (%1)").arg(number).size();
        path = dir.filePath(numbered(shortened(name, MaxNameBytes - mark), number));
    }
    return path;
}

}  // namespace FileNames
