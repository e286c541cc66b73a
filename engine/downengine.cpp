#include "engine/downengine.h"

#include "tasks/gbktext.h"
#include "tasks/tasklistfile.h"
#include "tasks/taskrecord.h"

#include "engine/slotworker.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QThread>

namespace {

// How long one round of a connect wait blocks at most without an event.
constexpr int WaitTickMs = 50;

}  // namespace

DownEngine::DownEngine(DownHost &host, SocketFactory makeSocket, QObject *parent)
    : QObject(parent), host_(host)
{
    for (int i = 0; i < 3; ++i) {
        DownSocket *socket = makeSocket ? makeSocket(i, nullptr) : nullptr;
        if (!socket)
            socket = new DownSocket(i);
        wsock_[i] = socket;
        // The progress timer reads both sessions from the first tick on.
        down_[i] = std::make_shared<clsDown>(*this);
        if (i == 0) {
            socket->setParent(this);  // the template: it never connects
            continue;
        }
        reportWatch_[i] = new QSocketNotifier(channels_[i].windowFd(), QSocketNotifier::Read);
        connect(reportWatch_[i], &QSocketNotifier::activated, this, [this, i] { drain(i); });
        SlotWorker *worker = new SlotWorker(socket, channels_[i]);
        QThread *thread = new QThread;
        thread->setObjectName(QStringLiteral("Wsock%1").arg(i));
        worker->moveToThread(thread);
        // Both run on the worker's thread: its watch is made there, and it
        // goes, with its socket, as the thread ends.
        connect(thread, &QThread::started, worker, &SlotWorker::begin);
        connect(thread, &QThread::finished, worker, &QObject::deleteLater);
        workers_[i] = worker;
        threads_[i] = thread;
        thread->start();
    }
    waitTick_.setInterval(WaitTickMs);
}

DownEngine::~DownEngine()
{
    // Workers go first: nothing they report may reach a half-destroyed engine.
    for (int i = 1; i <= 2; ++i) {
        halt(i);
        workers_[i] = nullptr;
        threads_[i]->quit();
        threads_[i]->wait();
        channels_[i].awaitFarewell();
        delete std::exchange(reportWatch_[i], nullptr);  // before its channel's eventfd goes
        delete std::exchange(threads_[i], nullptr);
        wsock_[i] = nullptr;
    }
    delete std::exchange(wsock_[0], nullptr);
}

bool DownEngine::slotFree(int slot) const
{
    return socketState_[slot] == DownSocket::Closed && DownRow[slot] == 0;
}

std::shared_ptr<clsDown> DownEngine::newSession(int slot)
{
    meters_[slot].reset();
    down_[slot] = std::make_shared<clsDown>(*this);
    return down_[slot];
}

DownEngine::StartResult DownEngine::StartTask(int slot, int row, const QString &filePath)
{
    const TaskRecord &rec = host_.task(row);
    // A task that names a proxy goes through it or not at all.
    if (!rec.ProxyHost.isEmpty() && rec.ProxyPort <= 0) {
        host_.appendLog(rec.Url + QStringLiteral("的代理服务器端口无效，没有开始下载"));
        return StartResult::BadProxyPort;
    }
    const std::shared_ptr<clsDown> d = newSession(slot);
    d->DownUrl = rec.Url;
    if (!d->AnalyzeUrl())
        return StartResult::BadUrl;
    d->mFile = filePath;
    d->WhichDown = qint16(row);
    d->WhichSocket = qint16(slot);
    d->mFlen = rec.FileSize;
    d->ReceiveBytes = rec.GotSize;
    d->mProxy = rec.ProxyHost;
    d->mProxyPort = rec.ProxyPort;
    d->mProxyId = rec.ProxyUser;
    d->mProxyPass = rec.ProxyPass;
    d->mSizeOpen = rec.SizeOpen;
    // Row and slot are taken before the connect wait, so that a double-click
    // on the row during the wait is a stop.
    host_.setRowState(row, QStringLiteral("start"));
    DownRow[slot] = qint16(row);
    host_.DrawDownPic(slot, 0, rec.FileSize, rec.GotSize);
    host_.appendLog(QStringLiteral("开始下载：") + rec.Url);
    if (GbkText::encode(d->mFile).size() > TaskListFile::PathBytes) {
        host_.appendLog(QStringLiteral("注意：本地文件路径超过%1字节，任务列表只保存其前%1字节，"
                                       "程序重新启动后将无法续传此任务：")
                            .arg(TaskListFile::PathBytes)
                        + d->mFile);
    }

    // Events run inside StartDown: no reference into the records may be held across it.
    if (d->StartDown()) {
        host_.task(row).FilePath = d->mFile;
        return StartResult::Started;
    }
    // A nested start may have taken this row or this slot meanwhile; leave it.
    if (DownRow[1] != row && DownRow[2] != row)
        host_.setRowState(row, QStringLiteral("error"));
    if (DownRow[slot] == row && down_[slot] == d)
        DownRow[slot] = 0;
    return StartResult::ConnectFailed;
}

void DownEngine::CloseSocket(int Index, const QString &ClsStr)
{
    if (Index < 0 || Index > 2)
        return;
    // Keep the session alive: the log and completion steps read it.
    const std::shared_ptr<clsDown> session = down_[Index];
    CloseSocket(session, Index, ClsStr);
}

void DownEngine::CloseSocket(const std::shared_ptr<clsDown> &session, const QString &ClsStr)
{
    if (session)
        CloseSocket(session, session->WhichSocket, ClsStr);
}

void DownEngine::CloseSocket(const std::shared_ptr<clsDown> &session, int slot,
                             const QString &ClsStr)
{
    const bool holdsSlot = slot >= 0 && slot <= 2 && down_[slot] == session;
    if (holdsSlot && session->bBusy && !collecting_[slot]) {
        // The worker's last reports come first: they happened before this end.
        collecting_[slot] = true;
        collect(slot);
        collecting_[slot] = false;
        if (!session->bBusy)
            return;  // one of them ended the session already, with its own line
    }
    const bool firstEnd = session->bBusy;  // a wait may end its session a second time
    const int W = session->WhichDown;
    if (W > 0) {
        const TaskRecord &R = host_.task(W);
        const bool complete = isComplete(R);
        // A newer session on the same row owns the row's state now.
        if (holdsSlot)
            host_.setRowState(W, stateKeyFor(R));
        if (complete)
            host_.appendLog(R.Url + QStringLiteral("的下载完成了"));
        else
            host_.appendLog(R.Url + QStringLiteral("的下载因为") + ClsStr
                            + QStringLiteral("被关闭了"));
    }
    session->bBusy = false;
    if (holdsSlot) {
        closeSlot(slot);
        DownRow[slot] = 0;
    }
    if (W > 0 && holdsSlot && firstEnd)
        scheduleRetry(*session, W, ClsStr);
}

void DownEngine::Timer1Tick()
{
    // A server silent this long after our request has gone away without a word.
    constexpr qint64 StallMs = 60000;
    const qint64 now = host_.monotonicMs();
    for (int i = 1; i <= 2; ++i) {
        const std::shared_ptr<clsDown> session = down_[i];
        if (DownRow[i] > 0) {
            const qint64 seconds = qMax<qint64>(0, (now - session->StartTime) / 1000);
            host_.setRowText(DownRow[i], 3, Figures::clock(seconds % 86400));
        }
        if (session->bBusy)
            ++dotStep_[i];
        else
            dotStep_[i] = 0;
        if (dotStep_[i] > 6) {
            dotStep_[i] = 0;
            dotColor_[i] = dotColor_[i] == Dot::Red ? Dot::Green : Dot::Red;
        }
        if (session->bBusy && session->requestSent()) {
            meters_[i].sample(now, session->ReceiveBytes);
            if (now - session->lastHeardMs >= StallMs)
                CloseSocket(i, QStringLiteral("超时"));
        }
    }
    startDueRetry(now);
}

DownEngine::Progress DownEngine::progressOf(int slot) const
{
    const clsDown &session = *down_[slot];
    if (!session.bBusy || DownRow[slot] <= 0)
        return {};
    const TaskRecord &task = host_.task(DownRow[slot]);
    const qint64 size = task.SizeOpen ? 0 : task.FileSize;
    const double speed = meters_[slot].speed();
    return {Figures::percent(task.GotSize, size), Figures::speed(speed),
            Figures::timeLeft(task.GotSize, size, speed)};
}

void DownEngine::scheduleRetry(const clsDown &session, int row, const QString &reason)
{
    // What the network did, not what the server answered or we did.
    static const QStringList transient{
        QStringLiteral("winsock关闭"), QStringLiteral("Winsock出错"), QStringLiteral("超时"),
        QStringLiteral("连接服务器时间过长"), QStringLiteral("连接代理服务器时间过长")};
    const TaskRecord &task = host_.task(row);
    const bool again = !session.bCancel && task.FileSize > 0 && !isComplete(task)
                       && (session.serverBusy() || transient.contains(reason));
    if (!again) {
        retries_.remove(row);
        return;
    }
    Retry &retry = retries_[row];
    if (retry.tries >= MaxRetries) {
        retries_.remove(row);
        host_.setRowState(row, QStringLiteral("error"));
        return;
    }
    const qint64 asked = session.retryAfterSeconds();
    const qint64 delayMs = asked >= 0 && asked <= 300 ? asked * 1000 : 5000 << retry.tries;
    retry.dueMs = host_.monotonicMs() + delayMs;
}

void DownEngine::startDueRetry(qint64 now)
{
    if (startingRetry_)
        return;  // a connect wait of ours is running below
    int row = 0;
    for (auto it = retries_.cbegin(); it != retries_.cend(); ++it) {
        if (it->dueMs >= 0 && it->dueMs <= now && (row == 0 || it->dueMs < retries_[row].dueMs))
            row = it.key();
    }
    const int slot = slotFree(1) ? 1 : slotFree(2) ? 2 : 0;
    if (row == 0 || slot == 0 || DownRow[1] == row || DownRow[2] == row)
        return;  // it waits for a slot
    Retry &retry = retries_[row];
    retry.dueMs = -1;
    ++retry.tries;
    const TaskRecord &task = host_.task(row);
    host_.appendLog(QStringLiteral("第%1次重试：").arg(retry.tries + 1) + task.Url);
    startingRetry_ = true;
    StartTask(slot, row, task.FilePath);
    startingRetry_ = false;
}

void DownEngine::processEventsRound()
{
    // The tick bounds how long the first round blocks when nothing happens,
    // so the wait sleeps instead of spinning and still reads its clock.
    ++waiting_;
    if (!waitTick_.isActive())
        waitTick_.start();
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    if (--waiting_ == 0)
        waitTick_.stop();
}

void DownEngine::connectSlot(int slot, SlotCommand connect)
{
    if (slot < 1 || slot > 2)
        return;
    // Whatever the slot's last connection still reports is void from here on.
    if (!halted_[slot])
        halt(slot);
    channels_[slot].stop = false;
    halted_[slot] = false;
    conn_[slot] = ++lastConn_;
    socketState_[slot] = DownSocket::Connecting;
    connect.conn = conn_[slot];
    command(slot, std::move(connect));
}

void DownEngine::sendRequest(int slot, const QString &request, const Transfer::Start &start)
{
    SlotCommand send;
    send.kind = SlotCommand::Kind::Send;
    send.conn = conn_[slot];
    send.request = request;
    send.start = start;
    command(slot, std::move(send));
}

void DownEngine::command(int slot, SlotCommand c)
{
    if (workers_[slot])
        channels_[slot].pushCommand(std::move(c));
}

void DownEngine::halt(int slot)
{
    if (slot < 1 || slot > 2)
        return;
    channels_[slot].stop = true;
    if (workers_[slot])
        channels_[slot].haltAndWait();
    halted_[slot] = true;
}

void DownEngine::collect(int slot)
{
    if (slot < 1 || slot > 2)
        return;
    halt(slot);
    drain(slot);
}

void DownEngine::collectAll()
{
    for (int slot = 1; slot <= 2; ++slot) {
        if (!halted_[slot])
            collect(slot);
    }
}

void DownEngine::closeSlot(int slot)
{
    if (!halted_[slot])
        halt(slot);
    socketState_[slot] = DownSocket::Closed;
    conn_[slot] = 0;
}

void DownEngine::drain(int slot)
{
    std::deque<SlotReport> &inbox = inbox_[slot];
    for (SlotReport &r : channels_[slot].takeReports())
        inbox.push_back(std::move(r));
    // One at a time: a report's handler may drain again, and the next report
    // is then the next one there.
    while (!inbox.empty()) {
        const SlotReport r = std::move(inbox.front());
        inbox.pop_front();
        handleReport(slot, r);
    }
}

void DownEngine::handleReport(int slot, const SlotReport &r)
{
    if (r.conn == 0 || r.conn != conn_[slot])
        return;  // of a connection that has ended
    socketState_[slot] = r.socketState;
    const std::shared_ptr<clsDown> session = down_[slot];
    switch (r.kind) {
    case SlotReport::Kind::Connected:
        Wsock_Connect(slot, r.text);
        break;
    case SlotReport::Kind::Arrival:
    case SlotReport::Kind::Progress:
        if (!session->bBusy)
            return;
        session->lastHeardMs = host_.monotonicMs();
        if (r.figures)
            takeFigures(slot, *session, r);
        if (r.kind == SlotReport::Kind::Arrival)
            Wsock_DataArrival(slot, r);
        break;
    case SlotReport::Kind::Closed:
        if (r.figures && session->bBusy)
            takeFigures(slot, *session, r);
        Wsock_Close(slot);
        break;
    case SlotReport::Kind::Error:
        if (r.figures && session->bBusy)
            takeFigures(slot, *session, r);
        Wsock_Error(slot, 0, {});
        break;
    case SlotReport::Kind::CertificateRefused:
        Wsock_CertificateRefused(slot, r.text);
        break;
    case SlotReport::Kind::TunnelRefused:
        Wsock_TunnelRefused(slot, r.text);
        break;
    }
}

void DownEngine::takeFigures(int slot, clsDown &session, const SlotReport &r)
{
    session.mFlen = r.mFlen;
    session.mSizeOpen = r.mSizeOpen;
    session.bodyDone_ = r.bodyDone;
    session.serverBusy_ = r.serverBusy;
    session.retryAfter_ = r.retryAfter;
    if (r.kind == SlotReport::Kind::Arrival && r.inHeader) {
        session.ReceiveData = r.text;
        host_.setClipboardText(session.ReceiveData);
    }
    if (!r.location.isEmpty())
        session.location_ = r.location;
    // A file that held other bytes has started over: so do its record and map.
    const qint64 shown = r.startedOver ? 0 : session.ReceiveBytes;
    if (r.onDisk == shown && !r.startedOver)
        return;
    session.ReceiveBytes = r.onDisk;
    if (session.WhichDown > 0)
        host_.task(session.WhichDown).GotSize = r.onDisk;
    if (r.onDisk > shown)
        host_.DrawDownPic(slot, r.onDisk - shown, r.mFlen, shown);
}

void DownEngine::Wsock_Connect(int Index, const QString &remoteHostIP)
{
    host_.appendLog(QStringLiteral("Winsock") + QString::number(Index) + QStringLiteral("与")
                    + remoteHostIP + QStringLiteral("连接成功！"));
}

void DownEngine::Wsock_DataArrival(int Index, const SlotReport &r)
{
    const std::shared_ptr<clsDown> session = down_[Index];
    const qint64 rangeStart = r.rangeStart;
    const qint64 length = r.length;
    const SaveResult status = r.status;
    const QString &url = session->DownUrl;
    switch (status) {
    case SaveResult::Nothing:
        break;
    case SaveResult::Ok200:
        host_.appendLog(url + QStringLiteral("开始下载"));
        break;
    case SaveResult::Partial206:
        host_.appendLog(url + QStringLiteral("开始从") + QString::number(rangeStart)
                        + QStringLiteral("断点续传下载"));
        break;
    case SaveResult::NotFound404:
        host_.appendLog(url + QStringLiteral("文件不存在"));
        CloseSocket(Index, QStringLiteral("文件未找到！"));
        break;
    case SaveResult::Error:
        CloseSocket(Index, QStringLiteral("请求时出错"));
        host_.appendLog(url + QStringLiteral("出错了"));
        break;
    case SaveResult::Cancel:
        CloseSocket(Index, QStringLiteral("用户取消"));
        return;
    case SaveResult::WriteFail:
        CloseSocket(Index, QStringLiteral("写入文件出错"));
        break;
    case SaveResult::Changed:
        CloseSocket(Index, QStringLiteral("服务器上的文件已改变"));
        break;
    case SaveResult::LocalChanged:
        CloseSocket(Index, QStringLiteral("本地文件已改变"));
        break;
    case SaveResult::Redirect:
        // A redirect found while the session is being ended is not followed.
        if (!collecting_[Index])
            followRedirect(Index, session);
        return;
    }
    if (length >= 1 && session->WhichDown > 0) {
        host_.task(session->WhichDown).FileSize = length;
        host_.task(session->WhichDown).SizeOpen = false;
        host_.setRowText(session->WhichDown, 1, QString::number(length));
    }
    // The whole body is here: no need to wait for the server to close.
    if (session->bBusy && session->bodyDone())
        CloseSocket(Index, QStringLiteral("服务器发送完毕"));
}

void DownEngine::Wsock_Close(int Index)
{
    CloseSocket(Index, QStringLiteral("winsock关闭"));
}

void DownEngine::Wsock_Error(int Index, int Number, const QString &Description)
{
    // Neither the number nor the text is shown: the reason is the trace.
    Q_UNUSED(Number);
    Q_UNUSED(Description);
    CloseSocket(Index, QStringLiteral("Winsock出错"));
}

void DownEngine::Wsock_CertificateRefused(int Index, const QString &why)
{
    host_.appendLog(down_[Index]->DownUrl + QStringLiteral("的服务器证书无法验证：") + why);
    CloseSocket(Index, QStringLiteral("证书无法验证"));
}

void DownEngine::Wsock_TunnelRefused(int Index, const QString &statusLine)
{
    // The status line only: the request that carried the password is not shown.
    host_.appendLog(down_[Index]->DownUrl + QStringLiteral("：代理服务器拒绝了连接：")
                    + statusLine);
    CloseSocket(Index, QStringLiteral("代理服务器拒绝连接"));
}

void DownEngine::followRedirect(int Index, const std::shared_ptr<clsDown> &session)
{
    const int row = session->WhichDown;
    QString why;
    const QString target = session->redirectTarget(&why);
    if (target.isEmpty()) {
        host_.appendLog(session->DownUrl + why);
        CloseSocket(Index, QStringLiteral("重定向失败"));
    } else {
        host_.appendLog(session->DownUrl + QStringLiteral("重定向到：") + target);
        closeSlot(Index);
        if (session->followRedirect(target))
            return;
    }
    // Like a failed connection: something is wrong with where the URL leads.
    if (row > 0 && DownRow[1] != row && DownRow[2] != row)
        host_.setRowState(row, QStringLiteral("error"));
}
