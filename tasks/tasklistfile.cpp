#include "tasks/tasklistfile.h"

#include "tasks/piecemap.h"

#include "tasks/companionfile.h"
#include "tasks/gbktext.h"
#include "tasks/savefile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>
#include <limits>
#include <optional>

namespace TaskListFile {

const QString FileName = QStringLiteral("Zipvane.zvt");

namespace {

struct Field {
    int offset;
    int width;
};
constexpr Field UrlField{2, 180};
constexpr Field FilePathField{182, PathBytes};
constexpr Field ProxyHostField{242, 50};
constexpr Field ProxyUserField{294, 20};
constexpr Field ProxyPassField{314, 20};
constexpr int ReservedAt = 0, FileSizeAt = 232, GotSizeAt = 236, UseProxyAt = 240,
              ProxyPortAt = 292;

qint32 clampTo32(qint64 value)
{
    return qint32(qBound(qint64(std::numeric_limits<qint32>::min()), value,
                         qint64(std::numeric_limits<qint32>::max())));
}

void putText(QByteArray &record, Field field, const QString &text)
{
    record.replace(field.offset, field.width, GbkText::encodeField(text, field.width));
}

// Fields are filled with blanks: only blanks are taken off, at both ends.
QString trimmedText(QByteArrayView view)
{
    while (!view.isEmpty() && view.front() == ' ')
        view = view.sliced(1);
    while (!view.isEmpty() && view.back() == ' ')
        view.chop(1);
    return GbkText::decode(view);
}

QString getText(const char *bytes, Field field)
{
    return trimmedText(QByteArrayView(bytes + field.offset, field.width));
}

// The text a field gives back when `text` is stored in it.
QString asStored(const QString &text, Field field)
{
    return trimmedText(GbkText::encodeField(text, field.width));
}

// The companion entry's names for the fields a record may not hold whole.
struct TextField {
    const char *name;
    Field field;
    QString TaskRecord::*member;
};
const TextField TextFields[] = {
    {"url", UrlField, &TaskRecord::Url},
    {"path", FilePathField, &TaskRecord::FilePath},
    {"proxyHost", ProxyHostField, &TaskRecord::ProxyHost},
    {"proxyUser", ProxyUserField, &TaskRecord::ProxyUser},
    {"proxyPass", ProxyPassField, &TaskRecord::ProxyPass},
};
struct SizeField {
    const char *name;
    qint64 TaskRecord::*member;
};
const SizeField SizeFields[] = {{"size", &TaskRecord::FileSize}, {"got", &TaskRecord::GotSize}};
// What a task keeps in the companion alone, the record having no place for
// it: kept whenever it is not empty. A new per-task text is one more line.
struct KeptField {
    const char *name;
    QString TaskRecord::*member;
};
const KeptField KeptFields[]
    = {{"validator", &TaskRecord::Validator},       {"referrer", &TaskRecord::Referrer},
       {"cookies", &TaskRecord::Cookies},           {"userAgent", &TaskRecord::UserAgent},
       {"cookieOrigin", &TaskRecord::CookieOrigin}, {"suggestedName", &TaskRecord::SuggestedName}};
// How the task stood: no entry when it neither ran nor waited in the queue,
// so a list of idle tasks keeps the companion it had.
const QLatin1String StandingName("state"), QueuePlaceName("queue"), RunningText("running"),
    QueuedText("queued");
// The task's own speed limit in bytes a second, as text; none when it has none.
const QLatin1String SpeedLimitName("limit");
const QLatin1String UrlChangedName("urlChanged");

// The fields that name a task: a record's slot is keyed by them as stored.
constexpr Field NamingFields[]
    = {UrlField, FilePathField, ProxyHostField, {ProxyPortAt, 2}, ProxyUserField, ProxyPassField};

QByteArray slotKey(const char *record)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const Field &f : NamingFields)
        hash.addData(QByteArrayView(record + f.offset, f.width));
    return hash.result().left(8).toHex();
}

// The whole values of what `r`'s record would cut or change, and what it has
// no place for; empty when the record holds it all.
QJsonObject entryFor(const TaskRecord &r)
{
    QJsonObject entry;
    for (const TextField &f : TextFields) {
        if (asStored(r.*f.member, f.field) != r.*f.member)
            entry.insert(QLatin1String(f.name), r.*f.member);
    }
    // Sizes go as text: a JSON number keeps only 53 bits.
    // An exact size of 2147483647 is kept too: alone it reads back as open.
    const bool exactLargest = r.FileSize == LargestStoredSize && !r.SizeOpen;
    for (const SizeField &f : SizeFields) {
        const bool largestSize = exactLargest && f.member == &TaskRecord::FileSize;
        if (clampTo32(r.*f.member) != r.*f.member || largestSize)
            entry.insert(QLatin1String(f.name), QString::number(r.*f.member));
    }
    for (const KeptField &f : KeptFields) {
        if (!(r.*f.member).isEmpty())
            entry.insert(QLatin1String(f.name), r.*f.member);
    }
    if (r.SpeedLimit > 0)
        entry.insert(SpeedLimitName, QString::number(r.SpeedLimit));
    if (r.UrlChanged)
        entry.insert(UrlChangedName, true);
    if (r.StoodAs == TaskRecord::Standing::Running)
        entry.insert(StandingName, RunningText);
    if (r.StoodAs == TaskRecord::Standing::Queued) {
        entry.insert(StandingName, QueuedText);
        entry.insert(QueuePlaceName, r.QueuePlace);
    }
    return entry;
}

// `r` completed by `entry` when every whole value in it is what `r`'s record
// holds of it; nothing when one is not.
std::optional<TaskRecord> applied(const QJsonObject &entry, const TaskRecord &r)
{
    TaskRecord whole = r;
    for (const TextField &f : TextFields) {
        const QJsonValue value = entry.value(QLatin1String(f.name));
        if (value.isUndefined())
            continue;
        if (!value.isString() || asStored(value.toString(), f.field) != r.*f.member)
            return std::nullopt;
        whole.*f.member = value.toString();
    }
    for (const SizeField &f : SizeFields) {
        const QJsonValue value = entry.value(QLatin1String(f.name));
        if (value.isUndefined())
            continue;
        bool ok = false;
        const qint64 size = value.toString().toLongLong(&ok);
        if (!ok || clampTo32(size) != r.*f.member)
            return std::nullopt;
        whole.*f.member = size;
    }
    for (const KeptField &f : KeptFields) {
        const QJsonValue value = entry.value(QLatin1String(f.name));
        if (!value.isUndefined() && !value.isString())
            return std::nullopt;
        whole.*f.member = value.toString();
    }
    // A limit that is not a number of bytes is none.
    whole.SpeedLimit = qMax(0ll, entry.value(SpeedLimitName).toString().toLongLong());
    whole.UrlChanged = entry.value(UrlChangedName).toBool();
    // A standing this version does not know is none: the task waits for the user.
    const QJsonValue stood = entry.value(StandingName);
    whole.StoodAs = stood == RunningText  ? TaskRecord::Standing::Running
                    : stood == QueuedText ? TaskRecord::Standing::Queued
                                          : TaskRecord::Standing::Idle;
    whole.QueuePlace
        = whole.StoodAs == TaskRecord::Standing::Queued ? entry.value(QueuePlaceName).toInt() : 0;
    return whole;
}

bool sameTask(const TaskRecord &a, const TaskRecord &b)
{
    for (const TextField &f : TextFields) {
        if (a.*f.member != b.*f.member)
            return false;
    }
    return true;
}

// The entry of the record `r`, stored at `slot`, of those the companion holds
// for it: one that matches the record. Two that match but name different
// tasks (records alike whose entries disagree) give none: which one is this
// record's cannot be told. Of two for one task, the first is the newer.
QJsonObject entryOf(const Companion::Contents &companion, const QString &slot, int number,
                    const TaskRecord &r)
{
    if (companion.bySlot.isEmpty()) {
        const QJsonObject entry = companion.byRecord.value(number);
        return applied(entry, r) ? entry : QJsonObject();
    }
    std::optional<std::pair<QJsonObject, TaskRecord>> found;
    for (const QJsonObject &entry : companion.bySlot.value(slot)) {
        const std::optional<TaskRecord> whole = applied(entry, r);
        if (!whole)
            continue;
        if (!found)
            found.emplace(entry, *whole);
        else if (!sameTask(found->second, *whole))
            return {};
    }
    return found ? found->first : QJsonObject();
}

QByteArray readWhole(const QString &path, QString *error = nullptr)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return {};
    }
    QByteArray all = file.readAll();
    if (file.error() != QFileDevice::NoError && error)
        *error = file.errorString();
    return all;
}

// The records of a list's bytes with their slots and the entries the
// companion holds for them, as reading finds them (no slots without a
// companion).
struct Resolved {
    QVector<const char *> records;
    QStringList slots;
    QVector<QJsonObject> entries;
};
Resolved resolve(const QByteArray &list, const QByteArray &companionBytes)
{
    Resolved out;
    const Companion::Contents companion = Companion::parse(companionBytes);
    const bool keyed = !companion.bySlot.isEmpty();
    for (qsizetype at = 0; at + RecordSize <= list.size(); at += RecordSize)
        out.records << list.constData() + at;
    out.entries.resize(out.records.size());
    // Without a companion no record has an entry, and none needs its slot.
    if (!keyed && companion.byRecord.isEmpty())
        return out;
    QVector<QByteArray> keys;
    for (const char *record : std::as_const(out.records))
        keys << slotKey(record);
    out.slots = Companion::slotsOf(keys);
    // Most records have no entry: only those that may are decoded here.
    for (int i = 0; i < out.records.size(); ++i) {
        const bool candidate
            = keyed ? companion.bySlot.contains(out.slots[i]) : companion.byRecord.contains(i + 1);
        if (candidate)
            out.entries[i] = entryOf(companion, out.slots[i], i + 1, decodeRecord(out.records[i]));
    }
    return out;
}

}  // namespace

QString companionPath(const QString &listPath)
{
    const QFileInfo list(listPath);
    return list.dir().filePath(list.completeBaseName() + QStringLiteral(".zvx"));
}

QByteArray encodeRecord(const TaskRecord &r)
{
    QByteArray record(RecordSize, ' ');
    char *p = record.data();
    qToLittleEndian<qint16>(r.Reserved, p + ReservedAt);
    putText(record, UrlField, r.Url);
    putText(record, FilePathField, r.FilePath);
    qToLittleEndian<qint32>(clampTo32(r.FileSize), p + FileSizeAt);
    qToLittleEndian<qint32>(clampTo32(r.GotSize), p + GotSizeAt);
    qToLittleEndian<qint16>(r.UseProxy, p + UseProxyAt);
    putText(record, ProxyHostField, r.ProxyHost);
    qToLittleEndian<qint16>(r.ProxyPort, p + ProxyPortAt);
    putText(record, ProxyUserField, r.ProxyUser);
    putText(record, ProxyPassField, r.ProxyPass);
    return record;
}

TaskRecord decodeRecord(const char *p)
{
    TaskRecord r;
    r.Reserved = qFromLittleEndian<qint16>(p + ReservedAt);
    r.Url = getText(p, UrlField);
    r.FilePath = getText(p, FilePathField);
    r.FileSize = qFromLittleEndian<qint32>(p + FileSizeAt);
    r.GotSize = qFromLittleEndian<qint32>(p + GotSizeAt);
    r.UseProxy = qFromLittleEndian<qint16>(p + UseProxyAt);
    r.ProxyHost = getText(p, ProxyHostField);
    r.ProxyPort = qFromLittleEndian<qint16>(p + ProxyPortAt);
    r.ProxyUser = getText(p, ProxyUserField);
    r.ProxyPass = getText(p, ProxyPassField);
    return r;
}

qint64 gotSizeOnDisk(const TaskRecord &r)
{
    // Written by several connections, the file may hold holes: its map
    // says what is there (see PieceMap).
    return PieceMap::onDisk(r.FilePath, r.FileSize).count;
}

ReadResult read(const QString &path)
{
    ReadResult result;
    QFile file(path);
    if (!file.exists()) {
        // A new list: create the file empty, private to its owner, as every
        // write later keeps it. A folder we cannot write to is no error here.
        if (file.open(QIODevice::WriteOnly))
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        return result;
    }
    QString error;
    const QByteArray all = readWhole(path, &error);
    if (!error.isEmpty()) {
        result.ok = false;
        result.error = error;
        return result;
    }
    const Resolved list = resolve(all, readWhole(companionPath(path)));
    result.records.reserve(qMin<qsizetype>(list.records.size(), MaxTasks));
    for (int i = 0; i < list.records.size(); ++i) {
        const char *bytes = list.records[i];
        const QJsonObject &entry = list.entries[i];
        if (result.records.size() >= MaxTasks) {
            result.unshown.append({QByteArray(bytes, RecordSize), entry});
            continue;
        }
        const TaskRecord stored = decodeRecord(bytes);
        if (stored.Url.isEmpty())
            continue;  // a record without a URL would have no row
        TaskRecord r = applied(entry, stored).value_or(stored);
        const bool pathWhole = entry.contains(QLatin1String("path"));
        // Cut to its field, or a character GBK lacks stored as "?".
        r.PathUncertain = !pathWhole
                          && (GbkText::encode(r.FilePath).size() == PathBytes
                              || r.FilePath.contains(QLatin1Char('?')));
        r.SizeOpen = r.FileSize == LargestStoredSize && !entry.contains(QLatin1String("size"));
        if ((r.GotSize + 1 < r.FileSize || r.SizeOpen) && !r.PathUncertain)
            r.GotSize = gotSizeOnDisk(r);
        result.records.append(std::move(r));
    }
    return result;
}

bool write(const QString &path, const QVector<TaskRecord> &records, QString *error,
           const std::function<bool(WriteStep)> &stopBefore, const QVector<Unshown> &unshown)
{
    QByteArray all;
    all.reserve((records.size() + unshown.size()) * RecordSize);
    QVector<QJsonObject> entries;
    for (const TaskRecord &r : records)
        all += encodeRecord(r), entries << entryFor(r);
    for (const Unshown &u : unshown)
        all += u.record, entries << u.entry;
    QVector<QByteArray> keys;
    for (qsizetype at = 0; at < all.size(); at += RecordSize)
        keys << slotKey(all.constData() + at);
    const QStringList slots = Companion::slotsOf(keys);
    Companion::Entries next, onDisk;
    for (int i = 0; i < slots.size(); ++i)
        next.append({slots[i], entries[i]});

    // What the pair on disk reads back now is kept until the new list is in place.
    const QString companionFile = companionPath(path);
    const QByteArray oldCompanion = readWhole(companionFile);
    const Resolved old = resolve(readWhole(path), oldCompanion);
    for (int i = 0; i < old.slots.size(); ++i)
        onDisk.append({old.slots[i], old.entries[i]});

    const auto stopped = [&](WriteStep step) {
        if (stopBefore && stopBefore(step)) {
            if (error)
                *error = QStringLiteral("stopped");
            return true;
        }
        return false;
    };
    const auto putCompanion = [&](const QByteArray &bytes) {
        return bytes.isEmpty() ? SaveFile::remove(companionFile, error)
                               : SaveFile::replace(companionFile, bytes, error);
    };
    const QByteArray both = Companion::forBoth(onDisk, next), alone = Companion::forList(next);
    if (stopped(WriteStep::Companion) || (both != oldCompanion && !putCompanion(both)))
        return false;
    if (stopped(WriteStep::List) || !SaveFile::replace(path, all, error))
        return false;
    return !stopped(WriteStep::Prune) && (alone == both || putCompanion(alone));
}

}  // namespace TaskListFile
