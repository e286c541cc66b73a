// A double-click on a row starts it on the first free slot or stops it.
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
            const std::shared_ptr<clsDown> session = eng.Down(s);
            session->bCancel = true;
            eng.DownRow[s] = 0;
            // Once the request is out, only ending the session stops the
            // transfer; otherwise a second start would append to the same
            // file from another connection. During the connect wait the
            // wait itself notices the flag.
            if (session->requestSent())
                eng.CloseSocket(s, QStringLiteral("用户取消"));
            return;
        }
    }

    // The user's start comes before any retry the row waits for.
    eng.forgetRetries(r);

    // A path read back without its whole value may name another file: the
    // user chooses again, starting from it.
    if (DownTask(r).PathUncertain) {
        const std::optional<QString> chosen = seams_.saveFileName(this, DownTask(r).FilePath);
        if (!chosen || chosen->isEmpty())
            return;
        DownTask(r).FilePath = *chosen;
        DownTask(r).PathUncertain = false;
    }

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
        QString path = DownTask(r).FilePath;
        if (path.isEmpty()) {
            const std::optional<QString> chosen = seams_.saveFileName(this, url.mFile);
            if (!chosen || chosen->isEmpty())
                return;
            path = *chosen;
        }
        switch (eng.StartTask(s, r, path)) {
        case DownEngine::StartResult::Started:
            listChanged();  // the chosen path
            return;
        case DownEngine::StartResult::BadUrl:  // checked above
        case DownEngine::StartResult::BadProxyPort:
            ui_.lblTishi->setText(QStringLiteral("代理服务器端口无效！"));
            return;
        case DownEngine::StartResult::ConnectFailed:
            ui_.lblTishi->setText(slotText(s, "连接服务器失败！！"));
            appendLog(ui_.lblTishi->text());
            return;
        }
        return;
    }
}
