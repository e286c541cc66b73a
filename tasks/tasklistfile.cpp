#include "tasks/tasklistfile.h"

#include "tasks/gbktext.h"

#include <QFile>
#include <QFileInfo>
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
QString getText(const char *bytes, Field field)
{
    QByteArrayView view(bytes + field.offset, field.width);
    while (!view.isEmpty() && view.front() == ' ')
        view = view.sliced(1);
    while (!view.isEmpty() && view.back() == ' ')
        view.chop(1);
    return GbkText::decode(view);
}

}  // namespace

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
    const qsizetype whole = all.size() / RecordSize;
    result.records.reserve(whole);
    for (qsizetype i = 0; i < whole && result.records.size() < MaxTasks; ++i) {
        TaskRecord r = decodeRecord(all.constData() + i * RecordSize);
        if (r.Url.isEmpty())
            continue;  // a record without a URL would have no row
        if (r.GotSize + 1 < r.FileSize)
            r.GotSize = gotSizeOnDisk(r);
        result.records.append(std::move(r));
    }
    return result;
}

bool write(const QString &path, const QVector<TaskRecord> &records, QString *error,
           const std::function<bool(int)> &beforeRecord)
{
    const bool existed = QFileInfo::exists(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    if (!existed)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QByteArray all;
    all.reserve(records.size() * RecordSize);
    for (int i = 0; i < records.size(); ++i) {
        if (beforeRecord && !beforeRecord(i)) {
            file.cancelWriting();
            if (error)
                *error = QStringLiteral("cancelled");
            return false;
        }
        all += encodeRecord(records[i]);
    }
    if (file.write(all) != all.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

}  // namespace TaskListFile
