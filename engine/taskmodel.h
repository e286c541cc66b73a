#pragma once
// The tasks: their records (DownTask) and each task's state, and the one
// function that changes a state. The window draws rows from what this says
// (its signals); the engine moves tasks through it. A 删除 mark sits beside
// the state: a marked task runs on if it runs, but nothing but the user's own
// start takes it up again, and it is not written to the list. Queued tasks
// wait in the order they were queued for a slot to free (the engine starts
// them); the list records each task's state and queue place.
#include "tasks/taskrecord.h"

#include <QObject>
#include <QVector>

enum class TaskState { Stopped, Queued, Connecting, Downloading, WaitingRetry, Complete, Error };

class TaskModel : public QObject {
    Q_OBJECT
public:
    explicit TaskModel(QObject *parent = nullptr);

    // DownTask: record k belongs to row k (1-based); one spare after the last.
    TaskList &records() { return records_; }
    const TaskList &records() const { return records_; }
    TaskRecord &task(int row) { return records_(row); }
    const TaskRecord &task(int row) const { return records_(row); }
    int count() const { return records_.rowCount(); }

    // A new last row for `record`, stopped, or complete by its sizes.
    int append(const TaskRecord &record);

    TaskState state(int row) const { return entry(row).state; }
    bool marked(int row) const { return entry(row).marked; }
    // Connecting or downloading.
    bool running(int row) const;
    // The row's icon key: "delete" when marked, else "start", "ok", "error",
    // "queue", "retry" (waiting for a retry) or "stop".
    QString stateKey(int row) const;

    // The one way a state changes. Leaving WaitingRetry forgets the retry's
    // time (not its count: ending a task does that, see forgetRetries);
    // leaving Queued takes the task out of the queue.
    void transition(int row, TaskState to);
    // Queues the task at the queue's end, or at its head; `retry`: its start
    // will be a retry (not the user's start).
    void enqueue(int row, bool atHead = false, bool retry = false);
    // The queued tasks, first to start first.
    const QVector<int> &queue() const { return queue_; }
    bool queuedRetry(int row) const { return entry(row).queuedRetry; }
    // Stopped or complete, as the record's sizes say.
    void settle(int row);
    // Waits until `dueMs` (engine clock) to be started again.
    void bookRetry(int row, qint64 dueMs);
    qint64 retryDue(int row) const { return entry(row).retryDueMs; }
    int retryTries(int row) const { return entry(row).retryTries; }
    void setRetryTries(int row, int tries);
    // The file was named after the URL without asking and nothing is on disk
    // yet: the server's name for it may still replace that name.
    bool nameFromServer(int row) const { return entry(row).nameFromServer; }
    void setNameFromServer(int row, bool may) { entry(row).nameFromServer = may; }
    // The retries of a task that the user started or stopped: none waiting, none counted.
    void forgetRetries(int row);

    // 删除: the mark, and no retry waits any more. Only the user's start
    // takes the mark away (unmark).
    void mark(int row);
    void unmark(int row);

    // What the list file keeps: every unmarked task with a URL, each with
    // how it stands now (running, or queued at its place).
    QVector<TaskRecord> listedRecords() const;

    // The server told the task's size: the record and its 大小 text.
    void setSize(int row, qint64 size);
    // Something of the record that the list keeps has changed.
    void recordChanged() { Q_EMIT changed(); }

    // Drops every task (a list read again).
    void clear();

Q_SIGNALS:
    void taskAdded(int row);
    void stateChanged(int row, const QString &beforeKey, const QString &afterKey);
    void sizeChanged(int row);
    // Something the list file keeps has changed.
    void changed();

private:
    struct Entry {
        TaskState state = TaskState::Stopped;
        bool marked = false;
        int retryTries = 0;
        qint64 retryDueMs = -1;
        bool queuedRetry = false;
        bool nameFromServer = false;
    };
    const Entry &entry(int row) const;
    Entry &entry(int row);
    void setEntry(int row, const Entry &to);

    TaskList records_;
    QVector<Entry> entries_;  // by row, 0 unused
    QVector<int> queue_;      // the Queued rows, in order
};
