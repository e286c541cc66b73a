// Where a task's file goes: asked in the save dialog (in the folder answered
// last, under the URL's name made clean), or, with asking off, straight into
// the download folder under that name, numbered where the path is taken.
#include "window/frmdown.h"

#include "tasks/filenames.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString frmDown::downloadFolder()
{
    const QString folder = settings_.downloadFolder.isEmpty()
                               ? QStandardPaths::writableLocation(QStandardPaths::DownloadLocation)
                               : settings_.downloadFolder;
    if (!folder.isEmpty() && QDir().mkpath(folder))
        return folder;
    appendLog(QStringLiteral("下载文件夹无法创建：") + folder);
    return QDir::homePath();
}

void frmDown::askSavePath(int r, const Seams::SaveAnswer &answer)
{
    QString suggested = DownTask(r).FilePath;
    if (suggested.isEmpty()) {
        const bool lastThere
            = !settings_.lastFolder.isEmpty() && QFileInfo(settings_.lastFolder).isDir();
        suggested
            = QDir(lastThere ? settings_.lastFolder : downloadFolder()).filePath(fileNameFor(r));
    }
    asking_.insert(r);
    seams_.saveFileName(this, suggested, [this, r, answer](std::optional<QString> chosen) {
        asking_.remove(r);
        if (chosen && !chosen->isEmpty() && QFileInfo(*chosen).path() != settings_.lastFolder) {
            settings_.lastFolder = QFileInfo(*chosen).path();
            settings_.write();
        }
        answer(chosen);
    });
}

QString frmDown::automaticPath(int r)
{
    // Nothing the user did not choose is ever written over: a file that is
    // there, or the file of another task of the list.
    const auto taken = [this, r](const QString &path) {
        if (QFileInfo::exists(path))
            return true;
        for (int row = 1; row <= rowCount(); ++row) {
            if (row != r && DownTask(row).FilePath == path)
                return true;
        }
        return false;
    };
    const QString name = fileNameFor(r);
    return FileNames::freePath(downloadFolder(), name, taken);
}

QString frmDown::fileNameFor(int r) const
{
    const TaskRecord &task = DownTask(r);
    const QString fromUrl = FileNames::fromUrl(task.Url);
    return FileNames::safe(task.SuggestedName.isEmpty() ? fromUrl : task.SuggestedName, fromUrl);
}

void frmDown::menuFolder_Click()
{
    const std::optional<QString> chosen = seams_.chooseFolder(this, downloadFolder());
    if (!chosen)
        return;
    settings_.downloadFolder = *chosen;
    settings_.write();
}
