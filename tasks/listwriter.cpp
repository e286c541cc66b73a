#include "tasks/listwriter.h"

ListWriter::ListWriter() : thread_([this] { run(); }) {}

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
        next_ = Job{path, records, unshown};
    }
    changed_.notify_all();
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
        changed_.wait(lock, [this] { return next_ || quit_; });
        if (!next_)
            return;
        const Job job = *std::exchange(next_, std::nullopt);
        writing_ = true;
        lock.unlock();
        QString error;
        const bool ok = TaskListFile::write(job.path, job.records, &error, {}, job.unshown);
        lock.lock();
        writing_ = false;
        if (!ok)
            failure_ = Failure{job.path, error};
        changed_.notify_all();
    }
}
