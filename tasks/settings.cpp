#include "tasks/settings.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>

namespace {

const QString QueueWhenBusyKey = QStringLiteral("queueWhenBusy");
const QString ResumeAtStartKey = QStringLiteral("resumeAtStart");
const QString SpeedLimitKey = QStringLiteral("speedLimitKBps");
const QString AskKey = QStringLiteral("askWhereToSave");
const QString DownloadFolderKey = QStringLiteral("downloadFolder");
const QString LastFolderKey = QStringLiteral("lastFolder");
const QString GeometryKey = QStringLiteral("windowGeometry");
const QString MaximizedKey = QStringLiteral("windowMaximized");
const QString ConnectionsKey = QStringLiteral("connections");

// Every line a section, a comment, or a key QSettings could have written
// (it escapes anything else as %XX) and its value, all of it UTF-8.
bool looksLikeIni(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(bytes);
    if (utf8.hasError())
        return false;
    static const QRegularExpression line(
        QStringLiteral(R"(^\s*(|[;#].*|\[[^\]]*\]|[A-Za-z0-9_%/\\. -]+=.*)\s*$)"));
    const QStringList lines = text.split(QRegularExpression(QStringLiteral("\r\n|\n|\r")));
    for (const QString &l : lines) {
        if (!line.match(l).hasMatch())
            return false;
    }
    return true;
}

// A boolean setting as the file says it; false when it says something else.
bool readBool(const QSettings &file, const QString &key, bool *value)
{
    if (!file.contains(key))
        return true;
    const QString text = file.value(key).toString();
    if (text != QLatin1String("true") && text != QLatin1String("false"))
        return false;
    *value = text == QLatin1String("true");
    return true;
}

// A limit as the file says it: a whole number, 0 or more.
bool readLimit(const QSettings &file, const QString &key, qint64 *value)
{
    if (!file.contains(key))
        return true;
    bool ok = false;
    const qint64 number = file.value(key).toString().toLongLong(&ok);
    if (!ok || number < 0)
        return false;
    *value = number;
    return true;
}

}  // namespace

QString Settings::path()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("Zipvane/Zipvane.conf"));
}

Settings Settings::read(bool *unreadable)
{
    Settings s;
    if (unreadable)
        *unreadable = false;
    QFile raw(path());
    if (!raw.exists())
        return s;
    bool ok = raw.open(QIODevice::ReadOnly) && looksLikeIni(raw.readAll());
    if (ok) {
        const QSettings file(path(), QSettings::IniFormat);
        ok = file.status() == QSettings::NoError
             && readBool(file, QueueWhenBusyKey, &s.queueWhenBusy)
             && readBool(file, ResumeAtStartKey, &s.resumeAtStart)
             && readLimit(file, SpeedLimitKey, &s.speedLimitKBps)
             && readBool(file, AskKey, &s.askWhereToSave)
             && readBool(file, MaximizedKey, &s.windowMaximized)
             && readLimit(file, ConnectionsKey, &s.connections) && s.connections <= MaxConnections;
        s.windowGeometry = file.value(GeometryKey).toByteArray();
        s.downloadFolder = file.value(DownloadFolderKey).toString();
        s.lastFolder = file.value(LastFolderKey).toString();
    }
    if (!ok) {
        s = Settings();
        if (unreadable)
            *unreadable = true;
    }
    return s;
}

bool Settings::write() const
{
    QSettings file(path(), QSettings::IniFormat);
    file.setValue(QueueWhenBusyKey, queueWhenBusy);
    file.setValue(ResumeAtStartKey, resumeAtStart);
    file.setValue(SpeedLimitKey, speedLimitKBps);
    file.setValue(AskKey, askWhereToSave);
    file.setValue(DownloadFolderKey, downloadFolder);
    file.setValue(LastFolderKey, lastFolder);
    file.setValue(GeometryKey, windowGeometry);
    file.setValue(MaximizedKey, windowMaximized);
    file.setValue(ConnectionsKey, connections);
    file.sync();
    return file.status() == QSettings::NoError;
}
