#pragma once
// The task list file "Zipvane.zvt": a plain run of 334-byte records, numbers
// little-endian, text fields in GBK filled with blanks.
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

QByteArray encodeRecord(const TaskRecord &record);
// Decodes one whole record; text fields lose their leading and trailing blanks.
TaskRecord decodeRecord(const char *bytes);

struct ReadResult {
    bool ok = true;  // false: the file exists but could not be read
    QString error;
    QVector<TaskRecord> records;  // in file order, blank URLs left out
};

// Reads every whole record. An unfinished task of known size takes its
// downloaded count from its local file's present length (0 if missing).
// A missing file is created empty.
ReadResult read(const QString &path);

// The downloaded count an unfinished task of known size really has on disk.
qint64 gotSizeOnDisk(const TaskRecord &record);

// Writes the records to a temporary file beside `path` and renames it over
// the old one, so a failure at any point leaves the previous list whole.
// A new file is readable by its owner only (it holds proxy passwords).
// `beforeRecord`, if set, is called before each record is written and may
// return false to abandon the write (tests use it to simulate a crash).
bool write(const QString &path, const QVector<TaskRecord> &records, QString *error = nullptr,
           const std::function<bool(int)> &beforeRecord = {});

}  // namespace TaskListFile
