#pragma once
// Writes the task list on a thread of its own. A write ends with a sync to
// the disk, and while downloads fill the disk's queue a sync can take far
// longer than a click may wait for an answer: the window hands the list
// over and goes on. A write at once (the last one, or one whose failure must
// be answered now) takes its turn among them: nothing given before it can
// land after it.
#include "tasks/tasklistfile.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

class ListWriter {
public:
    using WriteFunction
        = std::function<bool(const QString &path, const QVector<TaskRecord> &records,
                             const QVector<TaskListFile::Unshown> &unshown, QString *error)>;
    // `write` does the writing (tests replace it); by default TaskListFile::write.
    explicit ListWriter(WriteFunction write = {});
    ~ListWriter();  // finishes what it was given
    ListWriter(const ListWriter &) = delete;
    ListWriter &operator=(const ListWriter &) = delete;

    // Writes `records` and `unshown` to `path` as soon as it can; what was
    // given earlier and not begun yet is replaced. Nothing after seal().
    void submit(const QString &path, const QVector<TaskRecord> &records,
                const QVector<TaskListFile::Unshown> &unshown);
    // Writes on the calling thread once a write in hand is done; what was
    // given and not begun is dropped, this being newer, and so is a failure
    // of an earlier write.
    bool writeNow(const QString &path, const QVector<TaskRecord> &records,
                  const QVector<TaskListFile::Unshown> &unshown, QString *error);
    // Whatever is given from now on is not written in the background: the
    // last list is being written at once.
    void seal();
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

    const WriteFunction write_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Job> next_;
    bool writing_ = false;  // by the thread or by writeNow: one at a time
    bool sealed_ = false;
    bool quit_ = false;
    std::optional<Failure> failure_;
    std::thread thread_;  // last: it starts once everything above is made
};
