#pragma once
// The name a server gives its file (Content-Disposition), for a task whose
// file was named after its URL without asking: taken before the first byte
// is written, in the same folder, never over a file that is there or that
// another task of the list holds.
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <optional>

// The path the file moves to, already made (empty) so that no other task
// can take it meanwhile; nothing when the header names no other file, or
// no name is free.
std::optional<QString> claimServerName(QByteArrayView header, const QString &path,
                                       const QStringList &otherTasksPaths);
