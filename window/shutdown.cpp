// Deleting tasks (a mark that takes effect at exit) and ending the program:
// the task list is written once, then the whole program stops at once.
#include "window/frmdown.h"

#include "tasks/tasklistfile.h"
#include "widgets/minform.h"

#include <QCloseEvent>

void frmDown::menuDel_Click()
{
    const int row = selectedRow();
    if (row < 1)
        return;
    setRowState(row, QStringLiteral("delete"));
}

void frmDown::menuquit_Click()
{
    close();
}

void frmDown::closeEvent(QCloseEvent *event)
{
    if (!listSaved_) {
        listSaved_ = true;
        saveTaskList();
    }
    seams_.endProgram();
    // Only reached when ending the program is not real (under test).
    if (minForm_)
        minForm_->hide();
    event->accept();
}

void frmDown::saveTaskList()
{
    if (listUnreadable_)
        return;

    QVector<TaskRecord> records;
    const int rows = std::min(rowCount(), DownTask.rowCount());
    for (int i = 1; i <= rows; ++i) {
        if (!DownTask(i).Url.isEmpty() && rowState(i) != QLatin1String("delete"))
            records.append(DownTask(i));
    }
    QString error;
    if (!TaskListFile::write(listPath_, records, &error))
        qWarning("Zipvane: the task list could not be written to %s: %s", qPrintable(listPath_),
                 qPrintable(error));
}
