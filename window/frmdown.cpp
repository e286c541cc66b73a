// The main window's start-up and the small services it gives the engine and
// the handlers: the log, the timer, the drop window and the portal.
#include "window/frmdown.h"

#include <QActionGroup>

#include "engine/progress.h"
#include "tasks/listlocation.h"
#include "tasks/tasklistfile.h"
#include "widgets/blockmappanel.h"
#include "widgets/minform.h"
#include "widgets/tasklistview.h"
#include "widgets/trayicon.h"
#include "window/portal.h"
#include "window/startpage.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>

frmDown::frmDown(Seams seams, const QString &listFolder, DownEngine::SocketFactory makeSocket,
                 QWidget *parent)
    : QMainWindow(parent), seams_(std::move(seams))
{
    ui_.setupUi(*this);

    // The start page is part of the program: nothing is fetched to show it.
    ui_.WebBrowser1->setHtml(startPageHtml());

    // The drop window appears before the main window does.
    showMinForm();

    // Sockets and idle sessions of both slots.
    engine_ = std::make_unique<DownEngine>(*this, *model_, std::move(makeSocket));
    connect(model_.get(), &TaskModel::taskAdded, this, &frmDown::showNewTask);
    connect(model_.get(), &TaskModel::stateChanged, this, &frmDown::showState);
    connect(model_.get(), &TaskModel::sizeChanged, this,
            [this](int row) { setRowText(row, 1, QString::number(DownTask(row).FileSize)); });
    connect(model_.get(), &TaskModel::changed, this, &frmDown::listChanged);
    connect(engine_.get(), &DownEngine::startFailed, this, &frmDown::showStartFailed);
    connect(engine_.get(), &DownEngine::timeShown, this,
            [this](int row, const QString &text) { setRowText(row, 3, text); });

    ui_.LView->clear();
    ui_.LView->setColumnCount(4);
    ui_.LView->setHeaderLabels({QStringLiteral("URL地址"), QStringLiteral("大小"),
                                QStringLiteral("已下载大小"), QStringLiteral("时间")});
    // Together the columns are exactly as wide as the list.
    ui_.LView->setColumnWidth(0, ui_.LView->width() - frmDownUi::FixedColumnsWidth);
    for (int column = 1; column < 4; ++column)
        ui_.LView->setColumnWidth(column, 80);
    // The figures of a running download, after these: the list scrolls to them.
    ui_.LView->setColumnCount(7);
    ui_.LView->headerItem()->setText(ProgressColumn, QStringLiteral("进度"));
    ui_.LView->headerItem()->setText(ProgressColumn + 1, QStringLiteral("速度"));
    ui_.LView->headerItem()->setText(ProgressColumn + 2, QStringLiteral("剩余时间"));
    for (int column = ProgressColumn; column < 7; ++column)
        ui_.LView->setColumnWidth(column, 70);

    const ListLocation where = listLocation(listFolder);
    listPath_ = where.path;
    // The user looks beside the program first; say where the list went instead.
    if (where.fellBack)
        appendLog(QStringLiteral("任务列表保存在：") + listPath_);
    applySettings();
    loadTaskList();
    resumeTasks();

    SelRow = -1;
    PicVisible(0);

    for (int i = 0; i < int(ui_.Pic.size()); ++i)
        connect(ui_.Pic[i], &BlockMapPanel::grown, this, [this, i] { redrawPic(i); });
    connect(ui_.LView, &TaskListView::dblClick, this, &frmDown::LView_DblClick);
    connect(ui_.LView, &TaskListView::enterPressed, this, &frmDown::LView_DblClick);
    connect(ui_.LView, &TaskListView::deletePressed, this, &frmDown::menuDel_Click);
    connect(ui_.LView, &TaskListView::mouseUp, this, &frmDown::LView_MouseUp);
    connect(ui_.LView, &TaskListView::textDropped, this, &frmDown::LView_DropText);
    connect(minForm_, &MinForm::dblClick, this, &frmDown::MinForm_DblClick);
    connect(minForm_, &MinForm::textDropped, this, &frmDown::MinForm_DropText);
    connect(ui_.menuadd, &QAction::triggered, this, &frmDown::menuadd_Click);
    connect(ui_.menuDel, &QAction::triggered, this, &frmDown::menuDel_Click);
    connect(ui_.menuStartAll, &QAction::triggered, this, &frmDown::menuStartAll_Click);
    connect(ui_.menuStopAll, &QAction::triggered, this, &frmDown::menuStopAll_Click);
    connect(ui_.menuLimit, &QAction::triggered, this, &frmDown::menuLimit_Click);
    connect(ui_.menuTaskLimit, &QAction::triggered, this, &frmDown::menuTaskLimit_Click);
    connect(ui_.menuFolder, &QAction::triggered, this, &frmDown::menuFolder_Click);
    connect(ui_.menuOpenFile, &QAction::triggered, this, &frmDown::menuOpenFile_Click);
    connect(ui_.menuOpenFolder, &QAction::triggered, this, &frmDown::menuOpenFolder_Click);
    connect(ui_.menuCopyUrl, &QAction::triggered, this, &frmDown::menuCopyUrl_Click);
    connect(ui_.menuChangeUrl, &QAction::triggered, this, &frmDown::menuChangeUrl_Click);
    connect(ui_.menuDelFile, &QAction::triggered, this, &frmDown::menuDelFile_Click);
    connect(ui_.menuAsk, &QAction::toggled, this, [this](bool on) {
        settings_.askWhereToSave = on;
        settings_.write();
    });
    connect(ui_.menuQueue, &QAction::toggled, this, [this](bool on) {
        settings_.queueWhenBusy = on;
        engine().setQueueRetries(on);
        settings_.write();
    });
    connect(ui_.connectionChoices, &QActionGroup::triggered, this, [this](QAction *choice) {
        settings_.connections = choice->data().toInt();
        engine().setConnections(int(settings_.connections));
        settings_.write();
    });
    connect(ui_.menuResume, &QAction::toggled, this, [this](bool on) {
        settings_.resumeAtStart = on;
        settings_.write();
    });
    connect(ui_.menuquit, &QAction::triggered, this, &frmDown::menuquit_Click);
    connect(ui_.mnuzv, &QAction::triggered, this, &frmDown::mnuzv_Click);
    connect(ui_.WebBrowser1, &QTextBrowser::anchorClicked, this,
            [this](const QUrl &url) { seams_.openUrl(url.toString()); });
    connect(ui_.Timer1, &QTimer::timeout, this, &frmDown::Timer1_Timer);

    // A session that ends without closing the window still keeps the list.
    // The session manager may ask more than once (a log-out can be called
    // off), so every request writes the list as it stands then.
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::commitDataRequest, this, [this] { saveTaskListNow(); });
        connect(app, &QCoreApplication::aboutToQuit, this, &frmDown::saveLastList);
    }

    tray_ = seams_.trayIcon(this);
    if (tray_) {
        connect(tray_, &TrayIcon::showRequested, this, &frmDown::bringToFront);
        connect(tray_, &TrayIcon::quitRequested, this, &frmDown::menuquit_Click);
    }

    ui_.Timer1->start();
}

ListLocation frmDown::listLocation(const QString &listFolder)
{
    if (!listFolder.isEmpty())
        return {QDir(listFolder).filePath(TaskListFile::FileName), false};
    return chooseListLocation(QCoreApplication::applicationDirPath(),
                              QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

frmDown::~frmDown()
{
    ui_.Timer1->stop();
    // The engine calls back into this window; it goes before the controls do.
    engine_.reset();
    delete minForm_;
    minForm_ = nullptr;
}

void frmDown::loadTaskList()
{
    // A folder that once refused the list sent it to the data folder for that
    // run; the list left behind here is older than the one written there.
    const QString moved = newerListInDataFolder(
        listPath_, QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    if (!moved.isEmpty()) {
        listPath_ = moved;
        appendLog(QStringLiteral("任务列表已改为保存在") + listPath_);
    }
    const TaskListFile::ReadResult result = TaskListFile::read(listPath_);
    if (!result.ok) {
        listUnreadable_ = true;
        appendLog(QStringLiteral("任务列表文件无法读取：") + listPath_ + QStringLiteral("（")
                  + result.error + QStringLiteral("），本次退出时不会覆盖它"));
        return;
    }
    loadingList_ = true;
    for (const TaskRecord &record : result.records) {
        AddUrl(record.Url, QString::number(record.FileSize), QString::number(record.GotSize),
               record.FilePath);
        const int row = rowCount();
        DownTask(row) = record;
        // A size read back as "2 GiB or more" says nothing of being complete.
        model().settle(row);
        showIdleFigures(row);
    }
    loadingList_ = false;
    unshown_ = result.unshown;
    if (!unshown_.isEmpty()) {
        appendLog(QStringLiteral("任务列表中另有%1个任务超出了%2个的上限，没有显示，会原样保存")
                      .arg(unshown_.size())
                      .arg(MaxTasks));
    }
}

void frmDown::applySettings()
{
    bool unreadable = false;
    settings_ = Settings::read(&unreadable);
    if (unreadable)
        appendLog(QStringLiteral("设置文件无法读取，已使用默认设置：") + Settings::path());
    ui_.menuQueue->setChecked(settings_.queueWhenBusy);
    ui_.menuResume->setChecked(settings_.resumeAtStart);
    ui_.menuAsk->setChecked(settings_.askWhereToSave);
    ui_.connectionChoices->actions().at(int(settings_.connections))->setChecked(true);
    engine().setConnections(int(settings_.connections));
    // Qt puts a window saved on a screen that is gone back on one that is there.
    if (!settings_.windowGeometry.isEmpty())
        restoreGeometry(settings_.windowGeometry);
    if (settings_.windowMaximized)
        setWindowState(windowState() | Qt::WindowMaximized);
    engine().setQueueRetries(settings_.queueWhenBusy);
    engine().setSpeedLimit(settings_.speedLimitKBps * 1024);
}

void frmDown::resumeTasks()
{
    if (!settings_.resumeAtStart) {
        // They come back stopped, and stay so at the next start too.
        for (int row = 1; row <= rowCount(); ++row) {
            if (DownTask(row).StoodAs != TaskRecord::Standing::Idle)
                return listChanged();
        }
        return;
    }
    // What ran first, then the queue in its order; each starts as a slot frees.
    QVector<int> running, queued;
    for (int row = 1; row <= rowCount(); ++row) {
        const TaskRecord &task = DownTask(row);
        if (task.PathUncertain || task.FilePath.isEmpty() || isComplete(task))
            continue;
        if (task.StoodAs == TaskRecord::Standing::Running)
            running << row;
        else if (task.StoodAs == TaskRecord::Standing::Queued)
            queued << row;
    }
    std::stable_sort(queued.begin(), queued.end(), [this](int a, int b) {
        return DownTask(a).QueuePlace < DownTask(b).QueuePlace;
    });
    for (const int row : running + queued)
        model().enqueue(row);
}

void frmDown::appendLog(const QString &line)
{
    QTextCursor end(ui_.txtInfo->document());
    end.movePosition(QTextCursor::End);
    end.insertText(line + QStringLiteral("\r\n"));
    ui_.txtInfo->verticalScrollBar()->setValue(ui_.txtInfo->verticalScrollBar()->maximum());
}

QString frmDown::logText() const
{
    // The document keeps line breaks as paragraph ends; the log's lines end
    // with CR LF.
    QString text = ui_.txtInfo->toPlainText();
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text;
}

void frmDown::Timer1_Timer()
{
    DownEngine &eng = engine();
    eng.Timer1Tick();
    // The counts of a running download reach the list file now and then, so
    // a crash loses little more than the last half minute.
    if ((eng.Down(1)->bBusy || eng.Down(2)->bBusy) && ++busySeconds_ % 30 == 0)
        listChanged();
    showFigures();
    // Each slot's activity dot walks along its own line of the drop window.
    if (!minForm_)
        minForm_ = new MinForm;
    for (int slot = 1; slot <= 2; ++slot) {
        const QRgb fill = eng.DotColor(slot) == DownEngine::Dot::Red     ? qRgb(255, 0, 0)
                          : eng.DotColor(slot) == DownEngine::Dot::Green ? qRgb(0, 255, 0)
                                                                         : qRgb(0, 0, 0);
        minForm_->drawCircle((eng.DotStep(slot) + 1) * 120, slot * 120 + 60, 50, fill);
    }
}

void frmDown::setClipboardText(const QString &text)
{
    seams_.setClipboardText(text);
}

qint64 frmDown::monotonicMs()
{
    return seams_.monotonicMs();
}

void frmDown::mnuzv_Click()
{
    seams_.openUrl(PortalUrl);
}

void frmDown::showMinForm()
{
    if (!minForm_)
        minForm_ = new MinForm;
    minForm_->show();
}

void frmDown::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized())
        showMinForm();
}

void frmDown::showFigures()
{
    DownEngine &eng = engine();
    QStringList tip;
    for (int slot = 1; slot <= 2; ++slot) {
        const int row = eng.DownRow[slot];
        if (row < 1 || row > rowCount() || !eng.Down(slot)->bBusy)
            continue;
        const DownEngine::Progress p = eng.progressOf(slot);
        setRowText(row, ProgressColumn, p.percent);
        setRowText(row, ProgressColumn + 1, p.speed);
        setRowText(row, ProgressColumn + 2, p.timeLeft);
        tip << QFileInfo(DownTask(row).FilePath).fileName() + QStringLiteral("  ") + p.percent
                   + QStringLiteral("  ") + p.speed;
        if (row == SelRow)
            showDetails(row);
    }
    if (minForm_)
        minForm_->setToolTip(tip.join(QLatin1Char('\n')));
    // A retry's countdown.
    for (int row = 1; row <= rowCount(); ++row) {
        if (model().state(row) != TaskState::WaitingRetry)
            continue;
        setRowText(row, ProgressColumn + 2, Figures::clock(retrySecondsLeft(row)));
        if (row == SelRow)
            showDetails(row);
    }
}

qint64 frmDown::retrySecondsLeft(int row)
{
    return qMax<qint64>(0, (model().retryDue(row) - monotonicMs() + 999) / 1000);
}

void frmDown::showIdleFigures(int row)
{
    const TaskRecord &task = DownTask(row);
    setRowText(row, ProgressColumn,
               task.SizeOpen ? QString() : Figures::percent(task.GotSize, task.FileSize));
    setRowText(row, ProgressColumn + 1, QString());
    setRowText(row, ProgressColumn + 2,
               model().state(row) == TaskState::WaitingRetry
                   ? Figures::clock(retrySecondsLeft(row))
                   : QString());
}
