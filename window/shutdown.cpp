// Deleting tasks (a mark that takes effect at exit) and ending the program:
// the task list is written once, then the whole program stops at once.
#include "window/frmdown.h"

#include "tasks/tasklistfile.h"
#include "widgets/minform.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

void frmDown::menuDel_Click()
{
    const int row = selectedRow();
    if (row < 1)
        return;
    model().mark(row);
}

void frmDown::menuquit_Click()
{
    close();
}

void frmDown::saveLastList()
{
    // Nothing starts from now on, and both slots' threads stop writing
    // first, so the list holds the counts that are on disk.
    engine().shutDown();
    if (!listSaved_) {
        listSaved_ = true;
        // Nothing given to the writer's thread before may land after this write.
        listWriter_->seal();
        saveTaskListNow();
    }
}

void frmDown::closeEvent(QCloseEvent *event)
{
    // Its size and place for the next start, once the user has seen it.
    if (isVisible() && !isMinimized()) {
        settings_.windowGeometry = saveGeometry();
        settings_.windowMaximized = isMaximized();
        settings_.write();
    }
    saveLastList();
    seams_.endProgram();
    // Only reached when ending the program is not real (under test).
    if (minForm_)
        minForm_->hide();
    event->accept();
}

void frmDown::listChanged()
{
    if (loadingList_ || listSaved_ || listUnreadable_)
        return;
    if (!listSave_) {
        // Changes come in bursts (a drop of many lines, a session's end and
        // its size): one write after the burst holds them all.
        listSave_ = new QTimer(this);
        listSave_->setSingleShot(true);
        listSave_->setInterval(0);
        connect(listSave_, &QTimer::timeout, this, &frmDown::saveTaskList);
    }
    listSave_->start();
}

QVector<TaskRecord> frmDown::listedRecords() const
{
    return model_->listedRecords();
}

void frmDown::saveTaskList()
{
    if (listUnreadable_)
        return;
    if (listSave_)
        listSave_->stop();
    listWriter_->submit(listPath_, listedRecords(), unshown_);
    if (!listWriteWatch_) {
        // The writer's thread only records how a write went; we look now
        // and then while it has work, and stop looking when it has none.
        listWriteWatch_ = new QTimer(this);
        listWriteWatch_->setInterval(20);
        connect(listWriteWatch_, &QTimer::timeout, this, [this] {
            const bool idle = listWriter_->idle();
            if (const auto failure = listWriter_->takeFailure();
                failure && failure->path == listPath_)
                saveTaskListNow();  // here again, and elsewhere if need be
            if (idle)
                listWriteWatch_->stop();
        });
    }
    listWriteWatch_->start();
}

void frmDown::saveTaskListNow()
{
    if (listUnreadable_)
        return;
    if (listSave_)
        listSave_->stop();
    const QVector<TaskRecord> records = listedRecords();
    QString error;
    if (listWriter_->writeNow(listPath_, records, unshown_, &error))
        return;
    // The folder took the list once but takes it no more (made read-only,
    // unmounted, full): keep the tasks in the user's data folder instead.
    const QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QString fallback = QDir(dataFolder).filePath(TaskListFile::FileName);
    QString fallbackError;
    if (QFileInfo(fallback).absoluteFilePath() != QFileInfo(listPath_).absoluteFilePath()
        && QDir().mkpath(dataFolder)
        && listWriter_->writeNow(fallback, records, unshown_, &fallbackError)) {
        seams_.message(this, QStringLiteral("任务列表无法保存到") + listPath_
                                 + QStringLiteral("，已改为保存到") + fallback);
        listPath_ = fallback;
        return;
    }
    qWarning("Zipvane: the task list could not be written to %s: %s", qPrintable(listPath_),
             qPrintable(error));
    if (!listSaveFailureShown_) {
        listSaveFailureShown_ = true;
        seams_.message(this, QStringLiteral("任务列表无法保存到") + listPath_
                                 + QStringLiteral("：") + error);
    }
}
