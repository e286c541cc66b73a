#include "engine/taskmodel.h"

TaskModel::TaskModel(QObject *parent) : QObject(parent) {}

const TaskModel::Entry &TaskModel::entry(int row) const
{
    static const Entry none;
    return row >= 0 && row < entries_.size() ? entries_[row] : none;
}

TaskModel::Entry &TaskModel::entry(int row)
{
    if (row >= entries_.size())
        entries_.resize(row + 1);
    return entries_[row];
}

int TaskModel::append(const TaskRecord &record)
{
    const int row = records_.appendSpare();
    records_(row) = record;
    entry(row) = Entry{isComplete(record) ? TaskState::Complete : TaskState::Stopped};
    Q_EMIT taskAdded(row);
    Q_EMIT changed();
    return row;
}

bool TaskModel::running(int row) const
{
    const TaskState s = state(row);
    return s == TaskState::Connecting || s == TaskState::Downloading;
}

QString TaskModel::stateKey(int row) const
{
    if (marked(row))
        return QStringLiteral("delete");
    switch (state(row)) {
    case TaskState::Connecting:
    case TaskState::Downloading:
        return QStringLiteral("start");
    case TaskState::Complete:
        return QStringLiteral("ok");
    case TaskState::Error:
        return QStringLiteral("error");
    case TaskState::Queued:
        return QStringLiteral("queue");
    case TaskState::WaitingRetry:
        return QStringLiteral("retry");
    case TaskState::Stopped:
        break;
    }
    return QStringLiteral("stop");
}

void TaskModel::setEntry(int row, const Entry &to)
{
    if (row < 1 || row > count())
        return;
    const QString before = stateKey(row);
    const Entry was = entry(row);
    entry(row) = to;
    if (was.state == TaskState::Queued && to.state != TaskState::Queued) {
        queue_.removeOne(row);
        entry(row).queuedRetry = false;
    }
    if (was.state == to.state && was.marked == to.marked && was.retryDueMs == to.retryDueMs)
        return;
    Q_EMIT stateChanged(row, before, stateKey(row));
    Q_EMIT changed();
}

void TaskModel::transition(int row, TaskState to)
{
    Entry s = entry(row);
    s.state = to;
    if (to != TaskState::WaitingRetry)
        s.retryDueMs = -1;
    setEntry(row, s);
}

void TaskModel::enqueue(int row, bool atHead, bool retry)
{
    if (row < 1 || row > count() || state(row) == TaskState::Queued)
        return;
    Entry s = entry(row);
    s.state = TaskState::Queued;
    s.retryDueMs = -1;
    s.queuedRetry = retry;
    queue_.insert(atHead ? 0 : queue_.size(), row);
    setEntry(row, s);
}

void TaskModel::settle(int row)
{
    transition(row, isComplete(task(row)) ? TaskState::Complete : TaskState::Stopped);
}

void TaskModel::bookRetry(int row, qint64 dueMs)
{
    Entry s = entry(row);
    s.state = TaskState::WaitingRetry;
    s.retryDueMs = dueMs;
    setEntry(row, s);
}

void TaskModel::setRetryTries(int row, int tries)
{
    if (row >= 1 && row <= count())
        entry(row).retryTries = tries;
}

void TaskModel::forgetRetries(int row)
{
    if (row < 1 || row > count())
        return;
    entry(row).retryTries = 0;
    if (state(row) == TaskState::WaitingRetry)
        settle(row);
}

void TaskModel::mark(int row)
{
    if (row < 1 || row > count())
        return;
    Entry s = entry(row);
    s.marked = true;
    s.retryTries = 0;
    if (s.state == TaskState::WaitingRetry || s.state == TaskState::Queued) {
        s.state = isComplete(task(row)) ? TaskState::Complete : TaskState::Stopped;
        s.retryDueMs = -1;
    }
    setEntry(row, s);
}

void TaskModel::unmark(int row)
{
    Entry s = entry(row);
    s.marked = false;
    setEntry(row, s);
}

QVector<TaskRecord> TaskModel::listedRecords() const
{
    QVector<TaskRecord> records;
    for (int row = 1; row <= count(); ++row) {
        if (task(row).Url.isEmpty() || marked(row))
            continue;
        TaskRecord r = task(row);
        const int place = int(queue_.indexOf(row)) + 1;
        const bool running = this->running(row) || state(row) == TaskState::WaitingRetry;
        r.StoodAs = place > 0 ? TaskRecord::Standing::Queued
                    : running ? TaskRecord::Standing::Running
                              : TaskRecord::Standing::Idle;
        r.QueuePlace = place;
        records.append(r);
    }
    return records;
}

void TaskModel::setSize(int row, qint64 size)
{
    if (row < 1 || row > count())
        return;
    task(row).FileSize = size;
    task(row).SizeOpen = false;
    Q_EMIT sizeChanged(row);
    Q_EMIT changed();
}

void TaskModel::clear()
{
    records_.clear();
    entries_.clear();
    queue_.clear();
}
