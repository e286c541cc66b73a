#pragma once
// A task record: the hidden data of one task row, and the array DownTask
// whose record k belongs to row k, with one spare record after the last row.
#include <QString>
#include <QVector>

struct TaskRecord {
    qint16 Reserved = 0;  // kept as read, written back unchanged
    QString Url;
    QString FilePath;
    qint64 FileSize = 0;  // 0 = not known yet; 32-bit only in the file
    qint64 GotSize = 0;
    qint16 UseProxy = 0;  // -1 true, 0 false
    QString ProxyHost;
    qint16 ProxyPort = 0;
    QString ProxyUser;
    QString ProxyPass;
    // Read back without its whole value, the path may be another file than
    // the one chosen: it is not written to until the user chooses again.
    bool PathUncertain = false;
    // Read back as the record's largest size without its exact value: the
    // file has 2 GiB or more, and only the server can say how much.
    bool SizeOpen = false;
    // What names the server's file: the first answer's strong ETag, else its
    // Last-Modified, exactly as sent; empty when it gave neither. Kept in the
    // companion file and sent back as If-Range with every Range.
    QString Validator;
    // This task's own speed limit in bytes a second, 0 for none (within the
    // limit for all downloads). Kept in the companion file.
    qint64 SpeedLimit = 0;
    // The user gave the task a new address since its last answer: the next
    // answer tells whether the bytes on disk are of the same file. Kept in
    // the companion file.
    bool UrlChanged = false;
    // How the task stood when the list was written, for the next start to
    // go on with it: running (or about to retry), queued at QueuePlace
    // (from 1), or neither. Kept in the companion file.
    // What the browser sent with the link: sent with every request of the
    // task until it completes (or is deleted), the cookies only to the origin
    // ("scheme://host:port") they were given for; and the name it suggested
    // for the file, which wins over the URL's and the server's. Kept in the
    // companion file.
    QString Referrer, Cookies, UserAgent, CookieOrigin, SuggestedName;
    enum class Standing : qint8 { Idle, Running, Queued };
    Standing StoodAs = Standing::Idle;
    int QueuePlace = 0;
};

// The largest size a record stores; a larger one is stored as this.
constexpr qint64 LargestStoredSize = 2147483647;

// A task is complete when its size is known, at most one byte is missing
// and none is too many.
bool isComplete(qint64 fileSize, qint64 gotSize);

// The same for a task: never complete while its size is open.
bool isComplete(const TaskRecord &task);

// The most rows the list can hold: row indices are 16-bit signed.
constexpr int MaxTasks = 32766;

// DownTask: records 0 .. upperBound(); record 0 belongs to no task and the
// record at upperBound() is always the spare one.
class TaskList {
public:
    TaskList() : records_(2) {}

    int upperBound() const { return int(records_.size()) - 1; }
    int rowCount() const { return upperBound() - 1; }
    TaskRecord &operator()(int k) { return records_[k]; }
    const TaskRecord &operator()(int k) const { return records_[k]; }

    // Grow to upper bound n + 1 and return the index n of the filled spare.
    int appendSpare();
    void clear() { records_ = QVector<TaskRecord>(2); }

private:
    QVector<TaskRecord> records_;
};
