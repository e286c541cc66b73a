// The task list file reader over any bytes: no more records than whole ones
// in the file, and the file it read left exactly as it was.
#include "tasks/tasklistfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = QDir::temp().filePath(QStringLiteral("zv-fuzz-%1.zvt").arg(QCoreApplication::applicationPid()));
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        std::abort();
    file.close();
    const TaskListFile::ReadResult result = TaskListFile::read(path);
    if (!result.ok || result.records.size() > bytes.size() / TaskListFile::RecordSize)
        std::abort();
    if (!file.open(QIODevice::ReadOnly) || file.readAll() != bytes)
        std::abort();
    file.remove();
    return 0;
}
