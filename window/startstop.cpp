// A double-click on a row starts it on the first free slot or stops it.
#include "window/frmdown.h"

#include "tasks/gbktext.h"
#include "tasks/tasklistfile.h"
#include "widgets/blockmappanel.h"

#include <QLabel>

namespace {

// The task list file keeps this many bytes of a local path.
constexpr int StoredPathBytes = 50;

QString slotText(int slot, const char *message)
{
    return QStringLiteral("Wisock") + QString::number(slot) + QString::fromUtf8(message);
}

} // namespace

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
        if (eng.Wsock(s).State() != DownSocket::Closed && eng.DownRow[s] == r) {
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

    // The file may have been shortened or removed since the list was read:
    // resume from what is really on disk.
    {
        TaskRecord &rec = DownTask(r);
        if (rec.GotSize + 1 < rec.FileSize && !rec.FilePath.isEmpty()) {
            const qint64 onDisk = TaskListFile::gotSizeOnDisk(rec);
            if (onDisk != rec.GotSize) {
                rec.GotSize = onDisk;
                setRowText(r, 2, QString::number(onDisk));
            }
        }
        if (isComplete(rec.FileSize, rec.GotSize)) {
            lblTishi->setText(rec.FilePath + QStringLiteral("已经下载完毕！！！"));
            appendLog(lblTishi->text());
            return;
        }
    }

    for (int s = 1; s <= 2; ++s) {
        if (!eng.slotFree(s)) {
            lblTishi->setText(slotText(s, "已经有文件在下载了!!!"));
            appendLog(lblTishi->text());
            continue;
        }

        const std::shared_ptr<clsDown> d = eng.newSession(s);
        d->DownUrl = rowUrl(r);
        if (!d->AnalyzeUrl()) {
            lblTishi->setText(QStringLiteral("无法识别的URL地址：") + d->DownUrl);
            return;
        }
        if (DownTask(r).FilePath.isEmpty()) {
            const std::optional<QString> chosen = seams_.saveFileName(this, d->mFile);
            if (!chosen || chosen->isEmpty())
                return;
            d->mFile = *chosen;
        } else {
            d->mFile = DownTask(r).FilePath;
        }

        Pic[s]->Cls();
        const TaskRecord &rec = DownTask(r);
        d->WhichDown = qint16(r);
        d->WhichSocket = qint16(s);
        d->mFlen = rec.FileSize;
        d->ReceiveBytes = rec.GotSize;
        d->mProxy = rec.ProxyHost;
        d->mProxyPort = rec.ProxyPort;
        d->mProxyId = rec.ProxyUser;
        d->mProxyPass = rec.ProxyPass;
        setRowState(r, QStringLiteral("start"));
        eng.DownRow[s] = qint16(r);
        DrawDownPic(s, 0, rec.FileSize, rec.GotSize);
        appendLog(QStringLiteral("开始下载：") + rec.Url);
        if (GbkText::encode(d->mFile).size() > StoredPathBytes) {
            appendLog(QStringLiteral("注意：本地文件路径超过%1字节，任务列表只保存其前%1字节，"
                                     "程序重新启动后将无法续传此任务：")
                          .arg(StoredPathBytes)
                      + d->mFile);
        }

        // Events run inside StartDown: nothing of DownTask may be held across it.
        if (d->StartDown()) {
            DownTask(r).FilePath = d->mFile;
            return;
        }
        // A nested start may have taken this row or this slot meanwhile; leave it.
        if (eng.DownRow[1] != r && eng.DownRow[2] != r)
            setRowState(d->WhichDown, QStringLiteral("error"));
        lblTishi->setText(slotText(s, "连接服务器失败！！"));
        appendLog(lblTishi->text());
        if (eng.DownRow[s] == r && eng.Down(s) == d)
            eng.DownRow[s] = 0;
        return;
    }
}
