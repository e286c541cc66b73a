#pragma once
// The names files are saved under: taken from the URL, from the server's
// Content-Disposition or from the browser, always made safe by the one
// function here before they name a file, and numbered where the name is
// taken.
#include <QByteArrayView>
#include <QString>
#include <functional>
#include <optional>

namespace FileNames {

// The URL's last path segment, percent-decoded as UTF-8, without query or
// fragment; "index.html" where the path ends in "/" or gives no name.
// Not yet safe: see safe().
QString fromUrl(const QString &url);

// The file name a Content-Disposition value gives: filename* (RFC 8187,
// UTF-8 or ISO-8859-1) before filename; nothing when it gives none. Not yet
// safe: see safe().
std::optional<QString> fromContentDisposition(QByteArrayView value);

// `name` made safe to save under in a folder of the user's: no path
// separators or control characters, no leading dots, at most 255 bytes
// (UTF-8) cut at a character boundary with its extension kept, never "." or
// "..". Where nothing is left, `fallback` made safe the same way, and then
// "index.html".
QString safe(const QString &name, const QString &fallback = {});

// "a.tar.gz" numbered 1 is "a.tar (1).gz": the number goes before the last
// dot that is not the name's first character, else at the end.
QString numbered(const QString &name, int number);

// The path in `folder` for `name`, numbered from 1 on while `taken` says the
// path is taken.
QString freePath(const QString &folder, const QString &name,
                 const std::function<bool(const QString &path)> &taken);

}  // namespace FileNames
