// A double-click on a row starts it on the first free slot or stops it.
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
    // Its save dialog is open already: the answer will start it.
    if (asking_.contains(r))
        return;

    // The user's start comes before any retry the task waits for.
    model().forgetRetries(r);

    // A path read back without its whole value may name another file: the
    // user chooses again, starting from it.
    if (DownTask(r).PathUncertain) {
        asking_.insert(r);
        seams_.saveFileName(this, DownTask(r).FilePath, [this, r](std::optional<QString> chosen) {
            asking_.remove(r);
            if (!chosen || chosen->isEmpty() || model().running(r))
                return;
            DownTask(r).FilePath = *chosen;
            DownTask(r).PathUncertain = false;
            startRow(r);
        });
        return;
    }
    startRow(r);
}

void frmDown::startRow(int r)
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
            return;
        }
    }

    for (int s = 1; s <= 2; ++s) {
        if (!eng.slotFree(s)) {
            ui_.lblTishi->setText(slotText(s, "已经有文件在下载了!!!"));
            appendLog(ui_.lblTishi->text());
            continue;
        }
        UrlParts url;
        if (!analyzeUrl(rowUrl(r), url)) {
            ui_.lblTishi->setText(QStringLiteral("无法识别的URL地址：") + rowUrl(r));
            return;
        }
        if (!DownTask(r).FilePath.isEmpty()) {
            startWithPath(r, DownTask(r).FilePath);
            return;
        }
        asking_.insert(r);
        seams_.saveFileName(this, url.mFile, [this, r](std::optional<QString> chosen) {
            asking_.remove(r);
            // Marked or started meanwhile: the user has changed their mind.
            if (!chosen || chosen->isEmpty() || model().running(r) || model().marked(r))
                return;
            startWithPath(r, *chosen);
        });
        return;
    }
}

void frmDown::startWithPath(int r, const QString &path)
{
    DownEngine &eng = engine();
    // The slot is chosen now: one may have been taken while a dialog was open.
    const int s = eng.slotFree(1) ? 1 : eng.slotFree(2) ? 2 : 0;
    if (s == 0) {
        for (int busy = 1; busy <= 2; ++busy) {
            ui_.lblTishi->setText(slotText(busy, "已经有文件在下载了!!!"));
            appendLog(ui_.lblTishi->text());
        }
        return;
    }
    switch (eng.StartTask(s, r, path)) {
    case DownEngine::StartResult::Started:
    case DownEngine::StartResult::ConnectFailed:  // answered by showStartFailed
    case DownEngine::StartResult::BadUrl:         // checked before
        return;
    case DownEngine::StartResult::BadProxyPort:
        ui_.lblTishi->setText(QStringLiteral("代理服务器端口无效！"));
        return;
    }
}

void frmDown::showStartFailed(int slot, bool byUser)
{
    if (!byUser)
        return;
    ui_.lblTishi->setText(slotText(slot, "连接服务器失败！！"));
    appendLog(ui_.lblTishi->text());
}
