#include "tasks/tasklistfile.h"

#include "tasks/gbktext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QtEndian>
#include <limits>

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

// The whole values of what `r`'s record would cut or change; empty when it
// holds them all.
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
    return entry;
}

// Takes the whole values of `entry` into `r` when every one of them is what
// `r`'s record holds of it, and says whether it did.
bool applyEntry(const QJsonObject &entry, TaskRecord &r)
{
    TaskRecord whole = r;
    for (const TextField &f : TextFields) {
        const QJsonValue value = entry.value(QLatin1String(f.name));
        if (value.isUndefined())
            continue;
        if (!value.isString() || asStored(value.toString(), f.field) != r.*f.member)
            return false;
        whole.*f.member = value.toString();
    }
    for (const SizeField &f : SizeFields) {
        const QJsonValue value = entry.value(QLatin1String(f.name));
        if (value.isUndefined())
            continue;
        bool ok = false;
        const qint64 size = value.toString().toLongLong(&ok);
        if (!ok || clampTo32(size) != r.*f.member)
            return false;
        whole.*f.member = size;
    }
    r = whole;
    return true;
}

QJsonObject parseEntry(QByteArrayView line)
{
    return QJsonDocument::fromJson(line.toByteArray()).object();
}

// The companion's entries by record number; a line that is no entry is passed over.
QHash<int, QJsonObject> readCompanion(const QString &path)
{
    QHash<int, QJsonObject> entries;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QJsonObject entry = parseEntry(line);
        const int record = entry.value(QLatin1String("record")).toInt();
        if (record > 0)
            entries.insert(record, entry);
    }
    return entries;
}

// `bytes` into `path` through a temporary file; a new file is its owner's only.
bool saveWhole(const QString &path, const QByteArray &bytes, QString *error)
{
    const bool existed = QFileInfo::exists(path);
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        if (!existed)
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (file.write(bytes) == bytes.size() && file.commit())
            return true;
    }
    if (error)
        *error = file.errorString();
    return false;
}

QByteArray entryLine(QJsonObject entry, int record)
{
    entry.insert(QLatin1String("record"), record);
    return QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
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
    if (r.FilePath.isEmpty())
        return 0;
    const QFileInfo info(r.FilePath);
    return info.isFile() ? info.size() : 0;
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
    if (!file.open(QIODevice::ReadOnly)) {
        result.ok = false;
        result.error = file.errorString();
        return result;
    }
    const QByteArray all = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        result.ok = false;
        result.error = file.errorString();
        return result;
    }
    const QHash<int, QJsonObject> entries = readCompanion(companionPath(path));
    const qsizetype whole = all.size() / RecordSize;
    result.records.reserve(qMin<qsizetype>(whole, MaxTasks));
    for (qsizetype i = 0; i < whole; ++i) {
        const char *bytes = all.constData() + i * RecordSize;
        const QJsonObject entry = entries.value(int(i + 1));
        if (result.records.size() >= MaxTasks) {
            const QByteArray line = entry.isEmpty() ? QByteArray() : entryLine(entry, 0);
            result.unshown.append({QByteArray(bytes, RecordSize), line});
            continue;
        }
        TaskRecord r = decodeRecord(bytes);
        if (r.Url.isEmpty())
            continue;  // a record without a URL would have no row
        const bool applied = applyEntry(entry, r);
        const bool pathWhole = applied && entry.contains(QLatin1String("path"));
        // Cut to its field, or a character GBK lacks stored as "?".
        r.PathUncertain = !pathWhole
                          && (GbkText::encode(r.FilePath).size() == PathBytes
                              || r.FilePath.contains(QLatin1Char('?')));
        r.SizeOpen = r.FileSize == LargestStoredSize
                     && !(applied && entry.contains(QLatin1String("size")));
        if ((r.GotSize + 1 < r.FileSize || r.SizeOpen) && !r.PathUncertain)
            r.GotSize = gotSizeOnDisk(r);
        result.records.append(std::move(r));
    }
    return result;
}

bool write(const QString &path, const QVector<TaskRecord> &records, QString *error,
           const std::function<bool(int)> &beforeRecord, const QVector<Unshown> &unshown)
{
    QByteArray companion;
    for (int i = 0; i < records.size(); ++i) {
        const QJsonObject entry = entryFor(records[i]);
        if (!entry.isEmpty())
            companion += entryLine(entry, i + 1);
    }
    for (int i = 0; i < unshown.size(); ++i) {
        if (!unshown[i].entry.isEmpty())
            companion += entryLine(parseEntry(unshown[i].entry), int(records.size()) + i + 1);
    }
    const QString companionFile = companionPath(path);
    if (!companion.isEmpty() ? !saveWhole(companionFile, companion, error)
                             : QFile::exists(companionFile) && !QFile::remove(companionFile)) {
        if (error && companion.isEmpty())
            *error = QStringLiteral("cannot remove ") + companionFile;
        return false;
    }

    QByteArray all;
    all.reserve((records.size() + unshown.size()) * RecordSize);
    for (int i = 0; i < records.size(); ++i) {
        if (beforeRecord && !beforeRecord(i)) {
            if (error)
                *error = QStringLiteral("cancelled");
            return false;
        }
        all += encodeRecord(records[i]);
    }
    for (const Unshown &u : unshown)
        all += u.record;
    return saveWhole(path, all, error);
}

}  // namespace TaskListFile
