// The task list file reader over any bytes: one record for each whole record
// whose URL field (bytes 2 to 181) is not all blanks.
#include "tasks/tasklistfile.h"

#include <QTemporaryFile>
#include <cstdlib>

using namespace TaskListFile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    qsizetype records = 0;
    for (qsizetype at = 2; at + RecordSize - 2 <= bytes.size(); at += RecordSize)
        records += bytes.mid(at, 180) != QByteArray(180, ' ');
    QTemporaryFile file;
    if (!file.open() || file.write(bytes) != bytes.size() || !file.flush()
        || read(file.fileName()).records.size() != qMin<qsizetype>(records, MaxTasks))
        std::abort();
    return 0;
}
