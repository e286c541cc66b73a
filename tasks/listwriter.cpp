#include "tasks/listwriter.h"

namespace {

bool writeList(const QString &path, const QVector<TaskRecord> &records,
               const QVector<TaskListFile::Unshown> &unshown, QString *error)
{
    return TaskListFile::write(path, records, error, {}, unshown);
}

}  // namespace

ListWriter::ListWriter(WriteFunction write)
    : write_(write ? std::move(write) : writeList), thread_([this] { run(); })
{}

ListWriter::~ListWriter()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ListWriter::submit(const QString &path, const QVector<TaskRecord> &records,
                        const QVector<TaskListFile::Unshown> &unshown)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (sealed_)
            return;
        next_ = Job{path, records, unshown};
    }
    changed_.notify_all();
}

bool ListWriter::writeNow(const QString &path, const QVector<TaskRecord> &records,
                          const QVector<TaskListFile::Unshown> &unshown, QString *error)
{
    std::unique_lock<std::mutex> lock(mutex_);
    next_.reset();
    changed_.wait(lock, [this] { return !writing_; });
    // Holding the turn keeps the thread from beginning anything given meanwhile.
    writing_ = true;
    failure_.reset();
    lock.unlock();
    const bool ok = write_(path, records, unshown, error);
    lock.lock();
    writing_ = false;
    changed_.notify_all();
    return ok;
}

void ListWriter::seal()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    sealed_ = true;
    next_.reset();
}

void ListWriter::waitIdle()
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !next_ && !writing_; });
}

bool ListWriter::idle()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return !next_ && !writing_;
}

std::optional<ListWriter::Failure> ListWriter::takeFailure()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(failure_, std::nullopt);
}

void ListWriter::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // What was given before the end is written all the same.
        changed_.wait(lock, [this] { return (next_ && !writing_) || (quit_ && !next_); });
        if (!next_)
            return;
        const Job job = *std::exchange(next_, std::nullopt);
        writing_ = true;
        lock.unlock();
        QString error;
        const bool ok = write_(job.path, job.records, job.unshown, &error);
        lock.lock();
        writing_ = false;
        if (!ok)
            failure_ = Failure{job.path, error};
        changed_.notify_all();
    }
}
