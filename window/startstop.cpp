// A double-click on a row starts it on the first free slot, queues it while
// none is free, or stops it; 全部开始 and 全部停止 do the same for the list.
// Nothing here waits: the save dialog answers later, and the start goes on
// from its answer; the connect wait is the engine's.
#include "window/frmdown.h"

#include "engine/analyzeurl.h"
#include "tasks/tasklistfile.h"

#include <QLabel>

namespace {

QString slotText(int slot, const char *message)
{
    return QStringLiteral("Wisock") + QString::number(slot) + QString::fromUtf8(message);
}

}  // namespace

void frmDown::LView_DblClick()
{
    if (rowCount() == 0)
        return;
    const int r = selectedRow();
    if (r < 1)
        return;
    DownEngine &eng = engine();

    // Stop: a slot still connected to this row.
    for (int s = 1; s <= 2; ++s) {
        if (eng.socketState(s) != DownSocket::Closed && eng.DownRow[s] == r) {
            eng.stopSlot(s);
            return;
        }
    }
    // Queued: it waits no more.
    if (model().state(r) == TaskState::Queued) {
        model().settle(r);
        return;
    }
    // Its save dialog is open already: the answer will start it.
    if (asking_.contains(r))
        return;

    // The user's start comes before any retry the task waits for.
    model().forgetRetries(r);

    // A path read back without its whole value may name another file: the
    // user chooses again, starting from it.
    if (DownTask(r).PathUncertain) {
        askSavePath(r, [this, r](std::optional<QString> chosen) {
            if (!chosen || chosen->isEmpty() || model().running(r)
                || model().state(r) == TaskState::Queued)
                return;
            DownTask(r).FilePath = *chosen;
            DownTask(r).PathUncertain = false;
            startRow(r);
        });
        return;
    }
    startRow(r);
}

bool frmDown::startRow(int r, bool quiet)
{
    DownEngine &eng = engine();
    // The file may have been shortened, removed or grown since the list was
    // read or the task last ran: its present length is what we have.
    {
        TaskRecord &rec = DownTask(r);
        if (rec.FileSize > 0 && !rec.FilePath.isEmpty()) {
            const qint64 onDisk = TaskListFile::gotSizeOnDisk(rec);
            if (onDisk != rec.GotSize) {
                rec.GotSize = onDisk;
                setRowText(r, 2, QString::number(onDisk));
            }
        }
        if (isComplete(rec)) {
            ui_.lblTishi->setText(rec.FilePath + QStringLiteral("已经下载完毕！！！"));
            appendLog(ui_.lblTishi->text());
            return true;
        }
    }

    // A queued start needs its path now: the queue never asks later.
    const int free = eng.slotFree(1) ? 1 : eng.slotFree(2) ? 2 : 0;
    const bool queued = mustQueue();
    if (!queued && (free == 0 || !quiet))
        showBusy(free);
    if (!queued && free == 0)
        return false;
    UrlParts url;
    if (!analyzeUrl(rowUrl(r), url)) {
        ui_.lblTishi->setText(QStringLiteral("无法识别的URL地址：") + rowUrl(r));
        return true;
    }
    if (!DownTask(r).FilePath.isEmpty())
        return startWithPath(r, DownTask(r).FilePath);
    if (!settings_.askWhereToSave) {
        // Kept at once: the next task's name must see this one taken.
        DownTask(r).FilePath = automaticPath(r);
        // The browser's name wins over the server's.
        model().setNameFromServer(r, DownTask(r).SuggestedName.isEmpty());
        return startWithPath(r, DownTask(r).FilePath);
    }
    askSavePath(r, [this, r](std::optional<QString> chosen) {
        // Marked, started or queued meanwhile: the user has changed their mind.
        if (!chosen || chosen->isEmpty() || model().running(r) || model().marked(r)
            || model().state(r) == TaskState::Queued)
            return;
        startWithPath(r, *chosen);
    });
    return true;
}

bool frmDown::mustQueue()
{
    DownEngine &eng = engine();
    return settings_.queueWhenBusy
           && (!(eng.slotFree(1) || eng.slotFree(2)) || !model().queue().isEmpty());
}

void frmDown::showBusy(int freeSlot)
{
    for (int s = 1; s <= 2 && s != freeSlot; ++s) {
        ui_.lblTishi->setText(slotText(s, "已经有文件在下载了!!!"));
        appendLog(ui_.lblTishi->text());
    }
}

void frmDown::queueRow(int r, const QString &path)
{
    DownTask(r).FilePath = path;
    model().enqueue(r);
    ui_.lblTishi->setText(QStringLiteral("排队等候：") + DownTask(r).Url);
    appendLog(ui_.lblTishi->text());
}

bool frmDown::startWithPath(int r, const QString &path)
{
    DownEngine &eng = engine();
    // The slot is chosen now: one may have been taken while a dialog was open.
    const int s = eng.slotFree(1) ? 1 : eng.slotFree(2) ? 2 : 0;
    if (mustQueue()) {
        queueRow(r, path);
        return true;
    }
    if (s == 0) {
        showBusy(0);
        return false;
    }
    switch (eng.StartTask(s, r, path)) {
    case DownEngine::StartResult::Started:
    case DownEngine::StartResult::ConnectFailed:  // answered by showStartFailed
    case DownEngine::StartResult::BadUrl:         // checked before
        break;
    case DownEngine::StartResult::BadProxyPort:
        ui_.lblTishi->setText(QStringLiteral("代理服务器端口无效！"));
        break;
    }
    return true;
}

void frmDown::menuStartAll_Click()
{
    const int run = ++startAllRun_;
    startAllRows_.clear();
    for (int r = 1; r <= rowCount(); ++r) {
        const TaskState state = model().state(r);
        if ((state == TaskState::Stopped || state == TaskState::Error
             || state == TaskState::WaitingRetry)
            && !model().marked(r) && !asking_.contains(r))
            startAllRows_ << r;
    }
    startAllNext(run);
}

void frmDown::startAllNext(int run)
{
    while (run == startAllRun_ && !startAllRows_.isEmpty()) {
        const int r = startAllRows_.takeFirst();
        if (model().running(r) || model().marked(r) || model().state(r) == TaskState::Queued)
            continue;  // the user has seen to it meanwhile
        model().forgetRetries(r);
        const TaskRecord &rec = DownTask(r);
        UrlParts url;
        const bool ask = rec.PathUncertain || (rec.FilePath.isEmpty() && settings_.askWhereToSave);
        if (ask && analyzeUrl(rec.Url, url)) {
            // Its path before its turn: a cancelled dialog passes it over.
            askSavePath(r, [this, r, run](std::optional<QString> chosen) {
                if (run != startAllRun_)
                    return;
                if (chosen && !chosen->isEmpty() && !model().running(r) && !model().marked(r)
                    && model().state(r) != TaskState::Queued) {
                    DownTask(r).FilePath = *chosen;
                    DownTask(r).PathUncertain = false;
                    if (!startRow(r, true))
                        return;  // no slot and no queue: the rest would be refused too
                }
                startAllNext(run);
            });
            return;
        }
        if (!startRow(r, true))
            return;
    }
}

void frmDown::menuStopAll_Click()
{
    ++startAllRun_;
    startAllRows_.clear();
    engine().stopAll();
}

void frmDown::showStartFailed(int slot, bool byUser)
{
    if (!byUser)
        return;
    ui_.lblTishi->setText(slotText(slot, "连接服务器失败！！"));
    appendLog(ui_.lblTishi->text());
}
