#include "tasks/listlocation.h"

#include "tasks/tasklistfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

namespace {

// An installed copy sits in a system program folder, next to the share/
// folder holding its desktop entry. That folder is no place for one user's
// list even when it is writable (for root), and the package manager would
// leave the list behind.
bool isInstalledCopy(const QString &programFolder)
{
    return QFileInfo::exists(
        QDir(programFolder).filePath(QStringLiteral("../share/applications/zipvane.desktop")));
}

// Only creating a file proves a folder takes one: permission bits know
// nothing of read-only mounts, and root passes every permission check.
bool canCreateFileIn(const QString &folder)
{
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".zipvane-probe-XXXXXX")));
    return probe.open();
}

}  // namespace

ListLocation chooseListLocation(const QString &programFolder, const QString &dataFolder)
{
    const QString beside = QDir(programFolder).filePath(TaskListFile::FileName);
    if (!isInstalledCopy(programFolder) && canCreateFileIn(programFolder))
        return {beside, false};

    QDir().mkpath(dataFolder);
    const QString kept = QDir(dataFolder).filePath(TaskListFile::FileName);
    // The copy is the user's own, private like every list (it may hold proxy passwords).
    // Its companion goes with it: without it long URLs come back cut.
    if (!QFileInfo::exists(kept) && QFileInfo::exists(beside)) {
        for (const auto &[from, to] :
             {std::pair(TaskListFile::companionPath(beside), TaskListFile::companionPath(kept)),
              std::pair(beside, kept)}) {
            if (QFileInfo::exists(from) && QFile::copy(from, to))
                QFile::setPermissions(to, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
    }
    return {kept, true};
}

QString newerListInDataFolder(const QString &listPath, const QString &dataFolder)
{
    const QFileInfo list(listPath), moved(QDir(dataFolder).filePath(TaskListFile::FileName));
    // Only a list that exists in both places is in doubt: a missing one is
    // not a list that was left behind.
    if (!list.isFile() || !moved.isFile() || moved.absoluteFilePath() == list.absoluteFilePath())
        return {};
    return moved.lastModified() > list.lastModified() ? moved.filePath() : QString();
}
