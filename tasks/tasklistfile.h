#pragma once
// The task list file "Zipvane.zvt": a plain run of 334-byte records, numbers
// little-endian, text fields in GBK filled with blanks. What a record cannot
// hold exactly (a longer text, a character GBK lacks, a size past 32 bits)
// is kept whole in the companion file "Zipvane.zvx" beside it: UTF-8, one
// JSON object a line, each naming its record by number.
#include "tasks/taskrecord.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <functional>

namespace TaskListFile {

constexpr int RecordSize = 334;
// How many GBK bytes of a local path a record keeps.
constexpr int PathBytes = 50;
extern const QString FileName;  // "Zipvane.zvt"

// The companion file of the list at `listPath`.
QString companionPath(const QString &listPath);

QByteArray encodeRecord(const TaskRecord &record);
// Decodes one whole record; text fields lose their leading and trailing blanks.
TaskRecord decodeRecord(const char *bytes);

// A whole record past the MaxTasks shown, with its companion entry (empty
// when it has none): written back after the shown ones as it was read.
struct Unshown {
    QByteArray record;
    QByteArray entry;
};

struct ReadResult {
    bool ok = true;  // false: the file exists but could not be read
    QString error;
    QVector<TaskRecord> records;  // in file order, blank URLs left out
    QVector<Unshown> unshown;
};

// Reads every whole record, each completed by its companion entry when the
// entry still matches it. A path the record may have cut (its field full,
// or holding "?") without such an entry is marked PathUncertain. An
// unfinished task of known size takes its downloaded count from its local
// file's present length (0 if missing). A missing file is created empty.
ReadResult read(const QString &path);

// The downloaded count an unfinished task of known size really has on disk.
qint64 gotSizeOnDisk(const TaskRecord &record);

// Writes the companion file (or removes it when no record needs it), then
// the records, each to a temporary file beside `path` renamed over the old
// one, so a failure at any point leaves the previous list whole. A new file
// is readable by its owner only (both hold proxy passwords). `beforeRecord`,
// if set, is called before each record is written and may return false to
// abandon the write (tests use it to simulate a crash).
bool write(const QString &path, const QVector<TaskRecord> &records, QString *error = nullptr,
           const std::function<bool(int)> &beforeRecord = {},
           const QVector<Unshown> &unshown = {});

}  // namespace TaskListFile
