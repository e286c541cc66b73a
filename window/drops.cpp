// Text dropped on the task list or the drop window becomes a task once the
// user confirms it; the drop window also brings the main window back.
#include "window/frmdown.h"

void frmDown::LView_DropText(const QString &text)
{
    if (!seams_.askOkCancel(this, QStringLiteral("确定要下载") + text))
        return;
    AddNewUrl(text);
}

void frmDown::MinForm_DropText(const QString &text)
{
    if (!seams_.askOkCancel(this, QStringLiteral("确定要下载") + text))
        return;
    AddNewUrl(text);
    setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    show();
}

void frmDown::MinForm_DblClick()
{
    const Qt::WindowStates state = windowState();
    if (!(state & (Qt::WindowMinimized | Qt::WindowMaximized)))
        showMinimized();
    else
        showNormal();
}
