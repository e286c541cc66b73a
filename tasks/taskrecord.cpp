#include "tasks/taskrecord.h"

bool isComplete(qint64 fileSize, qint64 gotSize)
{
    // More bytes than the file has is another file, or a damaged one: the
    // task starts over.
    return fileSize > 0 && gotSize + 1 >= fileSize && gotSize <= fileSize;
}

bool isComplete(const TaskRecord &task)
{
    return !task.SizeOpen && isComplete(task.FileSize, task.GotSize);
}

int TaskList::appendSpare()
{
    const int n = upperBound();
    records_.append(TaskRecord());
    return n;
}
