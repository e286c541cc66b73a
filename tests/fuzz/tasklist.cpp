// The task list file reader over any bytes: one record for each whole record
// whose URL field (bytes 2 to 181) is not all blanks, and the file it read
// left exactly as it was.
#include "tasks/tasklistfile.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdlib>

using namespace TaskListFile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = QDir::temp().filePath(
        QStringLiteral("zv-fuzz-%1.zvt").arg(QCoreApplication::applicationPid()));
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        std::abort();
    file.close();
    qsizetype records = 0;
    for (qsizetype at = 2; at + RecordSize - 2 <= bytes.size(); at += RecordSize)
        records += bytes.mid(at, 180) != QByteArray(180, ' ');
    const ReadResult result = read(path);
    if (!result.ok || result.records.size() != qMin<qsizetype>(records, MaxTasks)
        || !file.open(QIODevice::ReadOnly) || file.readAll() != bytes)
        std::abort();
    file.remove();
    return 0;
}
