// URLs that come from outside the window: the command line and later
// starts of the program. The tray's notifications go out from here too.
#include "window/frmdown.h"

#include "engine/analyzeurl.h"
#include "widgets/trayicon.h"

#include <QFileInfo>

void frmDown::addOutsideUrls(const QStringList &urls)
{
    for (const QString &url : urls) {
        UrlParts parts;
        if (!analyzeUrl(url, parts)) {
            appendLog(QStringLiteral("无法识别的URL地址：") + url);
        } else if (holdsUrl(url)) {
            appendLog(QStringLiteral("该URL已经在下载队列中了：") + url);
        } else if (rowCount() >= MaxTasks) {
            appendLog(QStringLiteral("任务列表已满（最多%1个任务），没有加入：").arg(MaxTasks)
                      + url);
        } else {
            appendTask(url);
        }
    }
}

void frmDown::bringToFront()
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void frmDown::notifyEnd(int row, const QString &before, const QString &key)
{
    if (!tray_ || before == key)
        return;
    const TaskRecord &task = DownTask(row);
    if (key == QLatin1String("ok") && before == QLatin1String("start"))
        tray_->notify(QStringLiteral("下载完毕"),
                      task.FilePath.isEmpty() ? task.Url : QFileInfo(task.FilePath).fileName());
    else if (key == QLatin1String("error"))
        tray_->notify(QStringLiteral("下载失败"), task.Url);
}
