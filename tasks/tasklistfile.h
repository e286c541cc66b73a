#pragma once
// The task list file "Zipvane.zvt": a plain run of 334-byte records, numbers
// little-endian, text fields in GBK filled with blanks. What a record cannot
// hold exactly (a longer text, a character GBK lacks, a size past 32 bits)
// and what it has no place for (the validator; how the task stood, as
// "state": "running", or "queued" with "queue": its place from 1) is kept
// whole in the companion file "Zipvane.zvx" beside it (see companionfile.h).
#include "tasks/taskrecord.h"

#include <QByteArray>
#include <QJsonObject>
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

// A whole record past the MaxTasks shown, with its companion entry (a JSON
// object, empty when it has none): written back after the shown ones as it
// was read.
struct Unshown {
    QByteArray record;
    QJsonObject entry;
};

struct ReadResult {
    bool ok = true;  // false: the file exists but could not be read
    QString error;
    QVector<TaskRecord> records;  // in file order, blank URLs left out
    QVector<Unshown> unshown;
};

// Reads every whole record, each completed by its companion entry when the
// entry still matches it (of two for its slot that name different tasks,
// neither is taken; of two for one task, the newer). A path the record may have cut (its field full,
// or holding "?") without such an entry is marked PathUncertain. An
// unfinished task of known size takes its downloaded count from its local
// file's present length (0 if missing). A missing file is created empty.
ReadResult read(const QString &path);

// The downloaded count an unfinished task of known size really has on disk.
qint64 gotSizeOnDisk(const TaskRecord &record);

// The steps of a write, in their order: the companion for both the list on
// disk and the new one, the list, the companion for the new list alone.
enum class WriteStep { Companion, List, Prune };

// Replaces the list and its companion (removed when no record needs one) in
// those steps, each through a synced temporary file renamed over the old one
// and checked at every step, so that a failure or a crash at any point leaves
// a pair that reads back every task. On failure the steps not done are not
// tried. A new file is readable by its owner only (both hold proxy
// passwords). `stopBefore`, if set, may stop the write before a step as a
// crash would (tests use it).
bool write(const QString &path, const QVector<TaskRecord> &records, QString *error = nullptr,
           const std::function<bool(WriteStep)> &stopBefore = {},
           const QVector<Unshown> &unshown = {});

}  // namespace TaskListFile
