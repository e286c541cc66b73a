#pragma once
// Replacing a small file so that a crash or a failure at any point leaves the
// old file or the new one whole. Every step is checked (write, sync, close,
// rename): QSaveFile cannot be trusted with that, its commit() reports
// success after a final flush that failed (a full disk) and ignores a
// failed sync.
#include <QByteArray>
#include <QString>

namespace SaveFile {

// Writes `bytes` to a temporary file beside `path`, syncs it and renames it
// over `path`. A new file is readable by its owner only; a file replaced
// keeps its mode. On failure `path` is untouched and no temporary file stays.
bool replace(const QString &path, const QByteArray &bytes, QString *error);

// Removes `path`; a file that is not there is no failure.
bool remove(const QString &path, QString *error);

}  // namespace SaveFile
