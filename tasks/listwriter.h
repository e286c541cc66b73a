#pragma once
// Writes the task list on a thread of its own. A write ends with a sync to
// the disk, and while downloads fill the disk's queue a sync can take far
// longer than a click may wait for an answer: the window hands the list
// over and goes on.
#include "tasks/tasklistfile.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

class ListWriter {
public:
    ListWriter();
    ~ListWriter();  // finishes what it was given
    ListWriter(const ListWriter &) = delete;
    ListWriter &operator=(const ListWriter &) = delete;

    // Writes `records` and `unshown` to `path` as soon as it can; what was
    // given earlier and not begun yet is replaced.
    void submit(const QString &path, const QVector<TaskRecord> &records,
                const QVector<TaskListFile::Unshown> &unshown);
    // Returns once nothing given is waiting or being written.
    void waitIdle();
    bool idle();

    // A write that failed since the last call: the path and why.
    struct Failure {
        QString path, error;
    };
    std::optional<Failure> takeFailure();

private:
    struct Job {
        QString path;
        QVector<TaskRecord> records;
        QVector<TaskListFile::Unshown> unshown;
    };
    void run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Job> next_;
    bool writing_ = false;
    bool quit_ = false;
    std::optional<Failure> failure_;
    std::thread thread_;  // last: it starts once everything above is made
};
