// The selected task's actions from the task list's menu: open its file or
// its folder (through the desktop), copy its address, delete it with its file.
#include "window/frmdown.h"

#include "tasks/piecemap.h"
#include "widgets/tasklistview.h"

#include <QFile>
#include <QFileInfo>
#include <QInputDialog>
#include <QTreeWidgetItem>
#include <QUrl>

void frmDown::menuOpenFile_Click()
{
    const int row = selectedRow();
    if (row >= 1 && isComplete(DownTask(row)))
        seams_.openUrl(QUrl::fromLocalFile(DownTask(row).FilePath).toString());
}

void frmDown::menuOpenFolder_Click()
{
    const int row = selectedRow();
    if (row >= 1 && !DownTask(row).FilePath.isEmpty())
        seams_.openUrl(QUrl::fromLocalFile(QFileInfo(DownTask(row).FilePath).path()).toString());
}

void frmDown::menuCopyUrl_Click()
{
    const int row = selectedRow();
    if (row >= 1)
        seams_.setClipboardText(DownTask(row).Url);
}

void frmDown::menuChangeUrl_Click()
{
    const int row = selectedRow();
    if (row < 1)
        return;
    QInputDialog dialog(this);
    dialog.setObjectName(QStringLiteral("changeUrlDialog"));
    dialog.setWindowTitle(QStringLiteral("修改URL"));
    dialog.setLabelText(QStringLiteral("新的URL地址："));
    dialog.setTextValue(DownTask(row).Url);
    if (seams_.execModal(dialog) != QDialog::Accepted)
        return;
    const QString url = dialog.textValue();
    if (url == DownTask(row).Url || refuseDuplicate(url, this) || refuseUnusable(url, this))
        return;
    DownTask(row).Url = url;
    DownTask(row).UrlChanged = true;
    if (QTreeWidgetItem *item = ui_.LView->topLevelItem(row - 1))
        item->setText(0, url);
    listChanged();
}

void frmDown::menuDelFile_Click()
{
    const int row = selectedRow();
    if (row < 1)
        return;
    const QString path = DownTask(row).FilePath;
    if (!seams_.askOkCancel(this, QStringLiteral("确定要删除这个任务和它的文件吗？") + path))
        return;
    DownEngine &eng = engine();
    for (int slot = 1; slot <= 2; ++slot) {
        if (eng.DownRow[slot] == row)
            eng.stopSlot(slot);
    }
    model().mark(row);
    // Its thread has stopped writing: nothing more can land in the file.
    if (!path.isEmpty()) {
        QFile::remove(path);
        PieceMap::remove(path);  // its map of pieces, when it was written in pieces
    }
}
