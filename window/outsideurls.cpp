// URLs that come from outside the window: the command line and later
// starts of the program.
#include "window/frmdown.h"

#include "engine/analyzeurl.h"

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
