// A mouse release over the list shows the selected task's details and map,
// and the right button opens the task list's own menu.
#include "window/frmdown.h"

#include "widgets/blockmappanel.h"
#include "window/details.h"

#include <QMenu>
#include <QPlainTextEdit>

QString detailsText(const TaskRecord &r)
{
    const QString bytes = QStringLiteral("字节");
    const QStringList lines{
        QStringLiteral("URL:         ") + r.Url,
        QStringLiteral("文件名:      ") + r.FilePath,
        QStringLiteral("大小:        ") + QString::number(r.FileSize) + bytes,
        QStringLiteral("已下载大小:  ") + QString::number(r.GotSize) + bytes,
        QStringLiteral("代理服务器:  ") + r.ProxyHost,
    };
    return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

void frmDown::LView_MouseUp(Qt::MouseButton button, const QPoint &globalPos)
{
    if (rowCount() == 0)
        return;
    const int row = selectedRow();
    if (row < 1)
        return;
    SelRow = qint16(row);

    const TaskRecord &r = DownTask(SelRow);
    showDetails(SelRow);

    DownEngine &eng = engine();
    if (SelRow == eng.DownRow[1]) {
        PicVisible(1);
    } else if (SelRow == eng.DownRow[2]) {
        PicVisible(2);
    } else {
        PicVisible(0);
        redrawPic(0);
    }

    if (button == Qt::RightButton) {
        ui_.menuOpenFile->setEnabled(isComplete(r));
        ui_.menuOpenFolder->setEnabled(!r.FilePath.isEmpty());
        ui_.menuDelFile->setEnabled(!model().marked(SelRow));
        ui_.mnuTask->popup(globalPos);
    }
}

void frmDown::showDetails(int row)
{
    QString text = detailsText(DownTask(row));
    DownEngine &eng = engine();
    for (int slot = 1; slot <= 2; ++slot) {
        if (eng.DownRow[slot] != row || !eng.Down(slot)->bBusy)
            continue;
        const DownEngine::Progress p = eng.progressOf(slot);
        text += QStringLiteral("进度:        ") + p.percent + QStringLiteral("\r\n")
                + QStringLiteral("速度:        ") + p.speed + QStringLiteral("\r\n")
                + QStringLiteral("剩余时间:    ") + p.timeLeft + QStringLiteral("\r\n")
                + QStringLiteral("连接数:      ")
                + QString::number(qMax(1, eng.Down(slot)->connections)) + QStringLiteral("\r\n");
    }
    if (model().state(row) == TaskState::WaitingRetry) {
        text += QStringLiteral("下次重试:    第%1次，%2秒后\r\n")
                    .arg(model().retryTries(row) + 2)
                    .arg(retrySecondsLeft(row));
    }
    // The box shows plain line breaks; the text itself is kept with CR LF.
    ui_.txtFile->setPlainText(text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}
