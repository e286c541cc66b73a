// The 限速… handlers: the limit for all downloads together is a setting,
// a task's own is kept with the task.
#include "window/frmdown.h"

#include "window/speedlimitdialog.h"

void frmDown::menuLimit_Click()
{
    const std::optional<qint64> kb = askSpeedLimitKB(this, seams_, settings_.speedLimitKBps);
    if (!kb)
        return;
    settings_.speedLimitKBps = *kb;
    settings_.write();
    engine().setSpeedLimit(*kb * 1024);
}

void frmDown::menuTaskLimit_Click()
{
    const int row = selectedRow();
    if (row < 1)
        return;
    const std::optional<qint64> kb
        = askSpeedLimitKB(this, seams_, DownTask(row).SpeedLimit / 1024);
    if (!kb)
        return;
    DownTask(row).SpeedLimit = *kb * 1024;
    engine().taskSpeedLimitChanged(row);
    listChanged();
}
