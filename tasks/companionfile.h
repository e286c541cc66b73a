#pragma once
// The companion file "Zipvane.zvx" beside the task list keeps what a record
// cannot hold of its task (a longer text, a size past 32 bits, the server
// file's validator, whether it ran or waited in the queue): UTF-8, one JSON object a line. An entry names its record
// by a slot: a key over the fields that name the task as the record stores
// them (URL, local path, proxy) and the ordinal among the records with that
// key. Neither changes while a task downloads, nor when a task before it in
// the list goes, as a position would.
//
// A list is replaced in three steps, so that a crash between any two leaves
// a pair that agrees: a companion with the entries of both the list on disk
// and the list to come, the list, then the companion with the new list's
// entries alone. While both are held, a slot may have two entries, newest
// first; one empty entry says that its record has none.
#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QVector>

namespace Companion {

// The slot of every record, from the keys of the records in list order.
QStringList slotsOf(const QVector<QByteArray> &keys);

struct Contents {
    QHash<QString, QVector<QJsonObject>> bySlot;  // each newest first
    // A companion of an earlier version names records by number (from 1).
    QHash<int, QJsonObject> byRecord;
};
// A line that is no entry is passed over.
Contents parse(const QByteArray &bytes);

// The entries of one list: one per slot, empty when the record needs none.
using Entries = QVector<std::pair<QString, QJsonObject>>;

// The companion for `next` alone, and the one that serves both `onDisk` and
// `next`. Either is empty when no record needs an entry.
QByteArray forList(const Entries &next);
QByteArray forBoth(const Entries &onDisk, const Entries &next);

}  // namespace Companion
