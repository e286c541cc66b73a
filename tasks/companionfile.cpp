#include "tasks/companionfile.h"

#include <QJsonDocument>

namespace Companion {

namespace {

const QLatin1String KeyName("key"), OrdinalName("n"), RecordName("record");

QByteArray line(const QString &slot, QJsonObject entry)
{
    const qsizetype cut = slot.lastIndexOf(QLatin1Char('/'));
    entry.insert(KeyName, slot.left(cut));
    entry.insert(OrdinalName, slot.mid(cut + 1).toInt());
    return QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
}

}  // namespace

QStringList slotsOf(const QVector<QByteArray> &keys)
{
    QHash<QByteArray, int> seen;
    QStringList slots;
    slots.reserve(keys.size());
    for (const QByteArray &key : keys)
        slots << QString::fromLatin1(key) + QLatin1Char('/') + QString::number(seen[key]++);
    return slots;
}

Contents parse(const QByteArray &bytes)
{
    Contents contents;
    for (const QByteArray &text : bytes.split('\n')) {
        QJsonObject entry = QJsonDocument::fromJson(text).object();
        const QJsonValue key = entry.take(KeyName), ordinal = entry.take(OrdinalName);
        if (key.isString() && ordinal.isDouble()) {
            contents.bySlot[key.toString() + QLatin1Char('/') + QString::number(ordinal.toInt())]
                .append(entry);
        } else if (const int record = entry.take(RecordName).toInt(); record > 0) {
            contents.byRecord.insert(record, entry);
        }
    }
    // Entries of the present form make any older ones stale.
    if (!contents.bySlot.isEmpty())
        contents.byRecord.clear();
    return contents;
}

QByteArray forList(const Entries &next)
{
    QByteArray bytes;
    for (const auto &[slot, entry] : next) {
        if (!entry.isEmpty())
            bytes += line(slot, entry);
    }
    return bytes;
}

QByteArray forBoth(const Entries &onDisk, const Entries &next)
{
    QHash<QString, QJsonObject> old;
    for (const auto &[slot, entry] : onDisk)
        old.insert(slot, entry);
    QByteArray bytes;
    for (const auto &[slot, entry] : next) {
        const auto was = old.constFind(slot);
        const bool differs = was != old.constEnd() && *was != entry;
        // An empty entry is written where the other list's record of that
        // slot has one: the reader must see that this one has none.
        if (!entry.isEmpty() || differs)
            bytes += line(slot, entry);
        if (differs)
            bytes += line(slot, *was);
        if (was != old.constEnd())
            old.erase(was);
    }
    // Slots of the list on disk that the new list does not have.
    for (const auto &[slot, entry] : onDisk) {
        if (old.contains(slot) && !entry.isEmpty())
            bytes += line(slot, entry);
    }
    return bytes;
}

}  // namespace Companion
