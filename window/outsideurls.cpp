// URLs that come from outside the window: the command line and later
// starts of the program.
#include "window/outsideurls.h"

#include "engine/analyzeurl.h"
#include "engine/requestplan.h"
#include "window/frmdown.h"

#include <QTimer>

QString outsideUrlRefusal(UrlMessage::Outcome outcome)
{
    switch (outcome) {
    case UrlMessage::Outcome::Added:
        break;
    case UrlMessage::Outcome::Unusable:
        return QStringLiteral("无法识别的URL地址");
    case UrlMessage::Outcome::Listed:
        return QStringLiteral("该URL已经在下载队列中了");
    case UrlMessage::Outcome::Full:
        return QStringLiteral("任务列表已满（最多%1个任务）").arg(MaxTasks);
    }
    return {};
}

QList<UrlMessage::Outcome> frmDown::addOutsideUrls(const QList<UrlMessage::Item> &items)
{
    using UrlMessage::Outcome;
    QList<Outcome> outcomes;
    for (const UrlMessage::Item &item : items) {
        const QString &url = item.url;
        UrlParts parts;
        Outcome outcome = Outcome::Added;
        if (!analyzeUrl(url, parts))
            outcome = Outcome::Unusable;
        else if (holdsUrl(url))
            outcome = Outcome::Listed;
        else if (rowCount() >= MaxTasks)
            outcome = Outcome::Full;
        if (outcome == Outcome::Added && item.fromBrowser)
            addBrowserTask(item);
        else if (outcome == Outcome::Added)
            appendTask(url);
        else if (outcome == Outcome::Full)
            appendLog(outsideUrlRefusal(outcome) + QStringLiteral("，没有加入：") + url);
        else
            appendLog(outsideUrlRefusal(outcome) + QStringLiteral("：") + url);
        outcomes << outcome;
    }
    return outcomes;
}

void frmDown::addBrowserTask(const UrlMessage::Item &item)
{
    TaskRecord &task = appendTask(item.url);
    task.Referrer = item.referrer;
    task.Cookies = item.cookies;
    task.UserAgent = item.userAgent;
    task.CookieOrigin = item.cookies.isEmpty() ? QString() : originOf(item.url);
    task.SuggestedName = item.filename;
    // Started once the answer has gone: a save dialog may wait for the user.
    const int row = rowCount();
    QTimer::singleShot(0, this, [this, row] {
        if (row > rowCount() || model().running(row) || model().marked(row)
            || model().state(row) == TaskState::Queued || asking_.contains(row))
            return;
        // The save dialog asks over the window: it must be seen.
        if (settings_.askWhereToSave)
            bringToFront();
        startRow(row, true);
    });
}

void frmDown::bringToFront()
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}
