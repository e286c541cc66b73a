// The main window's start-up and the small services it gives the engine and
// the handlers: the log, the timer, the drop window and the portal.
#include "window/frmdown.h"

#include "tasks/listlocation.h"
#include "window/mainlayout.h"
#include "window/portal.h"
#include "window/startpage.h"
#include "tasks/tasklistfile.h"
#include "widgets/tasklistview.h"
#include "widgets/blockmappanel.h"
#include "widgets/minform.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTimer>

frmDown::frmDown(Seams seams, const QString &listFolder, DownEngine::SocketFactory makeSocket,
                 QWidget *parent)
    : QMainWindow(parent), seams_(std::move(seams))
{
    buildMainLayout(*this);

    // The start page is part of the program: nothing is fetched to show it.
    WebBrowser1->setHtml(startPageHtml());

    // The drop window appears before the main window does.
    showMinForm();

    // Sockets and idle sessions of both slots.
    engine_ = std::make_unique<DownEngine>(*this, std::move(makeSocket));

    LView->clear();
    LView->setColumnCount(4);
    LView->setHeaderLabels({QStringLiteral("URL地址"), QStringLiteral("大小"),
                            QStringLiteral("已下载大小"), QStringLiteral("时间")});
    // Together the columns are exactly as wide as the list.
    LView->setColumnWidth(0, LView->width() - 240);
    for (int column = 1; column < 4; ++column)
        LView->setColumnWidth(column, 80);

    if (listFolder.isEmpty()) {
        const ListLocation where = chooseListLocation(
            QCoreApplication::applicationDirPath(),
            QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
        listPath_ = where.path;
        // The user looks beside the program first; say where the list went instead.
        if (where.fellBack)
            appendLog(QStringLiteral("任务列表保存在：") + listPath_);
    } else {
        listPath_ = QDir(listFolder).filePath(TaskListFile::FileName);
    }
    loadTaskList();

    SelRow = -1;
    PicVisible(0);

    connect(LView, &TaskListView::dblClick, this, &frmDown::LView_DblClick);
    connect(LView, &TaskListView::mouseUp, this, &frmDown::LView_MouseUp);
    connect(LView, &TaskListView::textDropped, this, &frmDown::LView_DropText);
    connect(minForm, &MinForm::dblClick, this, &frmDown::MinForm_DblClick);
    connect(minForm, &MinForm::textDropped, this, &frmDown::MinForm_DropText);
    connect(menuadd, &QAction::triggered, this, &frmDown::menuadd_Click);
    connect(menuDel, &QAction::triggered, this, &frmDown::menuDel_Click);
    connect(menuquit, &QAction::triggered, this, &frmDown::menuquit_Click);
    connect(mnuzv, &QAction::triggered, this, &frmDown::mnuzv_Click);
    connect(WebBrowser1, &QTextBrowser::anchorClicked, this,
            [this](const QUrl &url) { seams_.openUrl(url.toString()); });
    connect(Timer1, &QTimer::timeout, this, &frmDown::Timer1_Timer);

    // A session that ends without closing the window still keeps the list.
    // The session manager may ask more than once (a log-out can be called
    // off), so every request writes the list as it stands then.
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::commitDataRequest, this, [this] { saveTaskList(); });
        connect(app, &QCoreApplication::aboutToQuit, this, [this] {
            if (!listSaved_) {
                listSaved_ = true;
                saveTaskList();
            }
        });
    }

    Timer1->start();
}

frmDown::~frmDown()
{
    Timer1->stop();
    // The engine calls back into this window; it goes before the controls do.
    engine_.reset();
    delete minForm;
    minForm = nullptr;
}

void frmDown::loadTaskList()
{
    const TaskListFile::ReadResult result = TaskListFile::read(listPath_);
    if (!result.ok) {
        listUnreadable_ = true;
        appendLog(QStringLiteral("任务列表文件无法读取：") + listPath_ + QStringLiteral("（")
                  + result.error + QStringLiteral("），本次退出时不会覆盖它"));
        return;
    }
    for (const TaskRecord &record : result.records) {
        const int rowsBefore = rowCount();
        AddUrl(record.Url, QString::number(record.FileSize), QString::number(record.GotSize),
               record.FilePath);
        if (rowCount() == rowsBefore)
            break;   // the list is full
        DownTask(DownTask.appendSpare()) = record;
    }
}

void frmDown::appendLog(const QString &line)
{
    QTextCursor end(txtInfo->document());
    end.movePosition(QTextCursor::End);
    end.insertText(line + QStringLiteral("\r\n"));
    txtInfo->verticalScrollBar()->setValue(txtInfo->verticalScrollBar()->maximum());
}

QString frmDown::logText() const
{
    // The document keeps line breaks as paragraph ends; the log's lines end
    // with CR LF.
    QString text = txtInfo->toPlainText();
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text;
}

void frmDown::CloseSocket(int Index, const QString &ClsStr)
{
    engine().CloseSocket(Index, ClsStr);
}

void frmDown::Timer1_Timer()
{
    engine().Timer1Tick();
}

void frmDown::drawMinFormDot(int xTwips, int yTwips, int radiusTwips, QRgb fill)
{
    if (!minForm)
        minForm = new MinForm;
    minForm->drawCircle(xTwips, yTwips, radiusTwips, fill);
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
    if (!minForm)
        minForm = new MinForm;
    minForm->show();
}

void frmDown::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized())
        showMinForm();
}
