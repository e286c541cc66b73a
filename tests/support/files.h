#pragma once
// Files as tests make and read them, and the URLs a task list holds.
#include "tasks/tasklistfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

// The bytes of a file; empty when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes `bytes` to `path`, its folder made first, and dates it `when` if
// given; true when all of it is on disk.
inline bool writeFile(const QString &path, const QByteArray &bytes, const QDateTime &when = {})
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
           && file.write(bytes) == bytes.size() && file.flush()
           && (!when.isValid() || file.setFileTime(when, QFileDevice::FileModificationTime));
}

// The URLs of the list at `path`, in its order.
inline QStringList listedUrls(const QString &path)
{
    QStringList urls;
    for (const TaskRecord &r : TaskListFile::read(path).records)
        urls << r.Url;
    return urls;
}
