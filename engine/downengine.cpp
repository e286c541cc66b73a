#include "engine/downengine.h"

#include "tasks/gbktext.h"
#include "tasks/tasklistfile.h"
#include "tasks/taskrecord.h"

#include "engine/ratelimiter.h"
#include "engine/slotworker.h"

#include <QFile>
#include <QSocketNotifier>
#include <QThread>
#include <algorithm>

namespace {

// How often a connect wait looks at its clock.
constexpr int ConnectTickMs = 50;
// How often the speed buckets are filled while a limit applies.
constexpr int LimitTickMs = 50;

}  // namespace

DownEngine::DownEngine(DownHost &host, TaskModel &model, SocketFactory makeSocket, QObject *parent)
    : QObject(parent), host_(host), model_(model), makeSocket_(std::move(makeSocket))
{
    for (int i = 0; i < 3; ++i) {
        // The progress timer reads both sessions from the first tick on.
        down_[i] = std::make_shared<clsDown>(*this);
        if (i == 0) {
            DownSocket *socket = makeSocket_ ? makeSocket_(i, nullptr) : nullptr;
            wsock_[i] = socket ? socket : new DownSocket(i);
            wsock_[i]->setParent(this);  // the template: it never connects
            continue;
        }
        makeWorker(i);
    }
    connectTick_.setInterval(ConnectTickMs);
    connect(&connectTick_, &QTimer::timeout, this, &DownEngine::checkConnectWaits);
    limitTick_.setInterval(LimitTickMs);
    connect(&limitTick_, &QTimer::timeout, this, &DownEngine::limitTick);
    // Once the change is done: a session that ends is still ending when its
    // task's state changes.
    queueTick_.setSingleShot(true);
    queueTick_.setInterval(0);
    connect(&queueTick_, &QTimer::timeout, this, &DownEngine::startQueued);
    connect(&model_, &TaskModel::stateChanged, this, [this] { queueTick_.start(); });
}

DownEngine::~DownEngine()
{
    // Workers go first: nothing they report may reach a half-destroyed engine.
    for (int i = 1; i <= 2; ++i) {
        halt(i);
        endWorker(workers_[i], true);
        wsock_[i] = nullptr;
    }
    for (Worker &w : abandoned_)
        endWorker(w, false);
    delete std::exchange(wsock_[0], nullptr);
}

void DownEngine::makeWorker(int slot)
{
    DownSocket *socket = makeSocket_ ? makeSocket_(slot, nullptr) : nullptr;
    if (!socket)
        socket = new DownSocket(slot);
    wsock_[slot] = socket;
    socket->setLimiter(limiter_);
    Worker &w = workers_[slot];
    w.channel = std::make_unique<SlotChannel>();
    w.reportWatch = new QSocketNotifier(w.channel->windowFd(), QSocketNotifier::Read);
    connect(w.reportWatch, &QSocketNotifier::activated, this, [this, slot] { drain(slot); });
    w.worker = new SlotWorker(socket, *w.channel);
    w.thread = new QThread;
    w.thread->setObjectName(QStringLiteral("Wsock%1").arg(slot));
    w.worker->moveToThread(w.thread);
    // Both run on the worker's thread: its watch is made there, and it
    // goes, with its socket, as the thread ends.
    connect(w.thread, &QThread::started, w.worker, &SlotWorker::begin);
    connect(w.thread, &QThread::finished, w.worker, &QObject::deleteLater);
    w.thread->start();
}

void DownEngine::endWorker(Worker &w, bool wait)
{
    delete std::exchange(w.reportWatch, nullptr);  // before its channel's eventfd goes
    if (!w.thread)
        return;
    w.thread->quit();
    if (wait || w.thread->wait(100)) {
        w.thread->wait();
        w.channel->awaitFarewell();
        delete std::exchange(w.thread, nullptr);
        w.channel.reset();
    } else {
        // Still hanging in the kernel: its thread, worker and channel are
        // left to the end of the process rather than pulled from under it.
        (void)w.channel.release();
        w.thread = nullptr;
    }
    w.worker = nullptr;
}

void DownEngine::abandonWorker(int slot)
{
    Worker &w = workers_[slot];
    host_.appendLog(QStringLiteral("下载线程没有应答，已放弃：") + down_[slot]->DownUrl);
    // It reads the stop flag before every write; its thread ends once the
    // call it hangs in returns, and nothing it reports is read any more.
    w.channel->stop = true;
    delete std::exchange(w.reportWatch, nullptr);
    w.thread->quit();
    abandoned_.push_back(std::move(w));
    w = Worker{};
    inbox_[slot].clear();
    makeWorker(slot);
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

DownEngine::StartResult DownEngine::StartTask(int slot, int row, const QString &filePath,
                                              bool byUser)
{
    if (closing_)
        return StartResult::ConnectFailed;
    const TaskRecord &rec = model_.task(row);
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
    // A kill can come between the first answer and the list's next write:
    // then only the piece map knows the size and the validator.
    const bool mapOnly = rec.FileSize <= 0 && QFile::exists(PieceMap::controlPath(filePath));
    if ((rec.FileSize > 0 || mapOnly) && !rec.SizeOpen) {
        // Written in pieces before: the map says what is there. A file that
        // may hold holes nobody can tell starts over.
        PiecesOnDisk disk = PieceMap::onDisk(filePath, rec.FileSize, rec.Url);
        if (disk.untrusted) {
            QFile::resize(filePath, 0);
            PieceMap::remove(filePath);
        }
        if (disk.map && mapOnly) {
            TaskRecord &task = model_.task(row);
            d->mFlen = task.FileSize = disk.map->size();
            if (task.Validator.isEmpty())
                task.Validator = disk.map->validator();
        }
        if (disk.untrusted || disk.map) {
            d->ReceiveBytes = disk.count;
            model_.task(row).GotSize = disk.count;
        }
        d->pieces = std::move(disk.map);
    } else {
        // Of unknown size the file is fetched whole: a map left from an
        // earlier version of it says nothing of what will be there.
        PieceMap::remove(filePath);
    }
    d->fromUser = byUser;
    d->startBytes = d->ReceiveBytes;
    // Row and slot are taken before the connect wait, so that a double-click
    // on the row during the wait is a stop.
    if (byUser)
        model_.unmark(row);
    model_.transition(row, TaskState::Connecting);
    DownRow[slot] = qint16(row);
    host_.DrawDownPic(slot, 0, rec.FileSize, d->pieces ? 0 : rec.GotSize);
    if (d->pieces)
        host_.drawPieces(slot, *d->pieces, {});
    host_.appendLog(QStringLiteral("开始下载：") + rec.Url);
    if (GbkText::encode(d->mFile).size() > TaskListFile::PathBytes) {
        host_.appendLog(QStringLiteral("注意：本地文件路径超过%1字节，任务列表只保存其前%1字节，"
                                       "程序重新启动后将无法续传此任务：")
                            .arg(TaskListFile::PathBytes)
                        + d->mFile);
    }
    if (d->StartDown())
        return StartResult::Started;
    failStart(slot, d);  // it was ended, with its line, before it could wait
    return StartResult::ConnectFailed;
}

void DownEngine::stopSlot(int slot)
{
    const std::shared_ptr<clsDown> session = down_[slot];
    session->bCancel = true;
    DownRow[slot] = 0;
    // Once the request is out, only ending the session stops the transfer;
    // otherwise a second start would append to the same file from another
    // connection. A wait given up ends as a failed connection.
    if (session->requestSent())
        CloseSocket(slot, EndReason::UserCancel);
    else if (session->connecting())
        endConnectWait(slot, session, false);
}

void DownEngine::watchConnectWait()
{
    if (!connectTick_.isActive())
        connectTick_.start();
}

void DownEngine::checkConnectWaits()
{
    bool waiting = false;
    for (int slot = 1; slot <= 2; ++slot) {
        const std::shared_ptr<clsDown> session = down_[slot];
        if (!session->connecting())
            continue;
        if (session->connectTimedOut(host_.monotonicMs()) || session->bCancel || !session->bBusy)
            endConnectWait(slot, session, true);
        else
            waiting = true;
    }
    if (!waiting)
        connectTick_.stop();
}

void DownEngine::endConnectWait(int slot, const std::shared_ptr<clsDown> &session, bool timedOut)
{
    session->endConnectWait();
    // A refusal said why the wait is over; otherwise the wait names itself,
    // even after the socket's own end line (so an error gives two lines).
    const bool refused = !session->bBusy
                         && (session->firstEnd == EndReason::CertificateRefused
                             || session->firstEnd == EndReason::ProxyRefused);
    if (!refused || timedOut)
        CloseSocket(session, slot,
                    session->viaProxy() ? EndReason::ProxyTimeout : EndReason::ConnectTimeout);
    failStart(slot, session);
}

void DownEngine::failStart(int slot, const std::shared_ptr<clsDown> &session)
{
    const int row = session->WhichDown;
    if (row > 0 && DownRow[1] != row && DownRow[2] != row
        && model_.state(row) != TaskState::WaitingRetry)
        model_.transition(row, TaskState::Error);
    if (DownRow[slot] == row && down_[slot] == session)
        DownRow[slot] = 0;
    Q_EMIT startFailed(slot, session->fromUser);
}

void DownEngine::CloseSocket(int Index, EndReason reason)
{
    if (Index < 0 || Index > 2)
        return;
    // Keep the session alive: the log and completion steps read it.
    const std::shared_ptr<clsDown> session = down_[Index];
    CloseSocket(session, Index, reason);
}

void DownEngine::CloseSocket(const std::shared_ptr<clsDown> &session, EndReason reason)
{
    if (session)
        CloseSocket(session, session->WhichSocket, reason);
}

void DownEngine::CloseSocket(const std::shared_ptr<clsDown> &session, int slot, EndReason reason)
{
    if (session->refusal
        && (reason == EndReason::SocketError || reason == EndReason::SocketClosed))
        reason = *session->refusal;
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
    if (firstEnd)
        session->firstEnd = reason;
    const int W = session->WhichDown;
    if (W > 0) {
        const TaskRecord &R = model_.task(W);
        if (isComplete(R))
            host_.appendLog(R.Url + QStringLiteral("的下载完成了"));
        else
            host_.appendLog(R.Url + QStringLiteral("的下载因为") + endReasonText(reason)
                            + QStringLiteral("被关闭了"));
    }
    session->bBusy = false;
    if (holdsSlot) {
        closeSlot(slot);
        DownRow[slot] = 0;
    }
    if (W > 0 && holdsSlot && firstEnd)
        endTask(*session, W, reason);
    // A session ended while it waited for its connection: the wait is over
    // too, with its own line, before anything else can take the slot.
    if (session->connecting())
        endConnectWait(slot, session, false);
}

void DownEngine::urlChangeAnswered(const clsDown &session, bool otherFile)
{
    const int row = session.WhichDown;
    if (row <= 0 || !model_.task(row).UrlChanged)
        return;
    TaskRecord &task = model_.task(row);
    task.UrlChanged = false;
    if (otherFile)
        host_.appendLog(QStringLiteral("新地址的文件与原来的不同，将从头下载：") + task.Url);
    model_.recordChanged();
}

void DownEngine::endTask(const clsDown &session, int row, EndReason reason)
{
    TaskRecord &task = model_.task(row);
    if (isComplete(task)) {
        // The browser's headers were for getting the file: not kept past it.
        task.Referrer.clear(), task.Cookies.clear(), task.UserAgent.clear();
        task.CookieOrigin.clear();
        model_.setRetryTries(row, 0);
        model_.transition(row, TaskState::Complete);
    } else if (bookRetry(session, row, reason)) {
        return;
    } else if (isRefusal(reason)) {
        model_.transition(row, TaskState::Error);
    } else if (model_.state(row) != TaskState::Error) {
        model_.transition(row, TaskState::Stopped);
    }
}

bool DownEngine::bookRetry(const clsDown &session, int row, EndReason reason)
{
    const TaskRecord &task = model_.task(row);
    const bool again = !closing_ && !session.bCancel && !model_.marked(row) && task.FileSize > 0
                       && !isComplete(task) && (session.serverBusy() || isTransient(reason));
    if (!again) {
        model_.setRetryTries(row, 0);
        return false;
    }
    // A try that brought bytes was worth it: the count starts again.
    const int tries = session.ReceiveBytes > session.startBytes ? 0 : model_.retryTries(row);
    if (tries >= MaxRetries) {
        model_.setRetryTries(row, 0);
        model_.transition(row, TaskState::Error);
        return true;
    }
    model_.setRetryTries(row, tries);
    const qint64 asked = session.retryAfterSeconds();
    const qint64 delayMs = asked >= 0 && asked <= 300 ? asked * 1000 : 5000 << tries;
    model_.bookRetry(row, host_.monotonicMs() + delayMs);
    return true;
}

void DownEngine::startDueRetry(qint64 now)
{
    if (closing_)
        return;
    if (queueRetries_) {
        QVector<int> due;
        for (int r = 1; r <= model_.count(); ++r) {
            if (model_.state(r) == TaskState::WaitingRetry && model_.retryDue(r) <= now)
                due << r;
        }
        std::stable_sort(due.begin(), due.end(),
                         [this](int a, int b) { return model_.retryDue(a) < model_.retryDue(b); });
        // The one due first ends up first.
        for (auto r = due.crbegin(); r != due.crend(); ++r)
            model_.enqueue(*r, true, true);
        startQueued();
        return;
    }
    int row = 0;
    for (int r = 1; r <= model_.count(); ++r) {
        const qint64 due = model_.retryDue(r);
        if (model_.state(r) == TaskState::WaitingRetry && due >= 0 && due <= now
            && (row == 0 || due < model_.retryDue(row)))
            row = r;
    }
    const int slot = slotFree(1) ? 1 : slotFree(2) ? 2 : 0;
    if (row == 0 || slot == 0)
        return;  // it waits for a slot
    const TaskRecord &task = model_.task(row);
    if (task.PathUncertain || task.FilePath.isEmpty()) {
        model_.forgetRetries(row);  // only the user may say where it goes
        return;
    }
    const int tries = model_.retryTries(row) + 1;
    model_.setRetryTries(row, tries);
    host_.appendLog(QStringLiteral("第%1次重试：").arg(tries + 1) + task.Url);
    StartTask(slot, row, task.FilePath, false);
}

void DownEngine::startQueued()
{
    if (closing_)
        return;
    for (int slot = 1; slot <= 2; ++slot) {
        while (slotFree(slot) && !model_.queue().isEmpty())
            startFromQueue(slot, model_.queue().first());
    }
}

void DownEngine::startFromQueue(int slot, int row)
{
    const TaskRecord &task = model_.task(row);
    const bool retry = model_.queuedRetry(row);
    if (task.PathUncertain || task.FilePath.isEmpty()) {
        model_.forgetRetries(row);
        model_.settle(row);  // only the user may say where it goes
        return;
    }
    if (retry) {
        const int tries = model_.retryTries(row) + 1;
        model_.setRetryTries(row, tries);
        host_.appendLog(QStringLiteral("第%1次重试：").arg(tries + 1) + task.Url);
    }
    const StartResult result = StartTask(slot, row, task.FilePath, !retry);
    if (result == StartResult::BadUrl || result == StartResult::BadProxyPort)
        model_.transition(row, TaskState::Error);
}

void DownEngine::stopAll()
{
    while (!model_.queue().isEmpty())
        model_.settle(model_.queue().first());
    for (int row = 1; row <= model_.count(); ++row)
        model_.forgetRetries(row);
    for (int slot = 1; slot <= 2; ++slot) {
        if (down_[slot]->bBusy)
            stopSlot(slot);
    }
}

void DownEngine::Timer1Tick()
{
    // A server that sends nothing of the body this long after our request
    // has gone away without a word, however much else it sends.
    constexpr qint64 StallMs = 60000;
    const qint64 now = host_.monotonicMs();
    for (int i = 1; i <= 2; ++i) {
        const std::shared_ptr<clsDown> session = down_[i];
        if (DownRow[i] > 0) {
            const qint64 seconds = qMax<qint64>(0, (now - session->StartTime) / 1000);
            Q_EMIT timeShown(DownRow[i], Figures::clock(seconds % 86400));
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
                CloseSocket(i, EndReason::Stall);
        }
    }
    startDueRetry(now);
    startQueued();
}

DownEngine::Progress DownEngine::progressOf(int slot) const
{
    const clsDown &session = *down_[slot];
    if (!session.bBusy || DownRow[slot] <= 0)
        return {};
    const TaskRecord &task = model_.task(DownRow[slot]);
    const qint64 size = task.SizeOpen ? 0 : task.FileSize;
    const double speed = meters_[slot].speed();
    return {Figures::percent(task.GotSize, size), Figures::speed(speed),
            Figures::timeLeft(task.GotSize, size, speed)};
}

void DownEngine::shutDown()
{
    closing_ = true;
    connectTick_.stop();
    for (int slot = 1; slot <= 2; ++slot) {
        if (!halted_[slot])
            collect(slot);
    }
}

void DownEngine::connectSlot(int slot, SlotCommand connect)
{
    if (slot < 1 || slot > 2)
        return;
    // Whatever the slot's last connection still reports is void from here on.
    if (!halted_[slot])
        halt(slot);
    workers_[slot].channel->stop = false;
    halted_[slot] = false;
    conn_[slot] = ++lastConn_;
    socketState_[slot] = DownSocket::Connecting;
    connect.conn = conn_[slot];
    limiter_->setTaskLimit(slot, DownRow[slot] > 0 ? model_.task(DownRow[slot]).SpeedLimit : 0);
    limiter_->setActive(slot, true);
    watchLimits();
    command(slot, std::move(connect));
}

void DownEngine::sendRequest(int slot, const QString &request, const Transfer::Start &start,
                             const RequestInput &input, const std::optional<PieceMap> &pieces)
{
    SlotCommand send;
    send.input = input;
    send.connections = connections_;
    send.pieces = pieces;
    send.taskUrl = DownRow[slot] > 0 ? model_.task(DownRow[slot]).Url : QString();
    send.kind = SlotCommand::Kind::Send;
    send.conn = conn_[slot];
    send.request = request;
    send.start = start;
    // Until its first byte, a file named after its URL may take the server's name.
    if (const int row = DownRow[slot]; row > 0 && model_.nameFromServer(row)) {
        send.start.nameFromServer = true;
        for (int other = 1; other <= model_.count(); ++other) {
            if (other != row && !model_.task(other).FilePath.isEmpty())
                send.start.otherTasksPaths << model_.task(other).FilePath;
        }
    }
    command(slot, std::move(send));
}

void DownEngine::command(int slot, SlotCommand c)
{
    if (workers_[slot].channel)
        workers_[slot].channel->pushCommand(std::move(c));
}

void DownEngine::halt(int slot)
{
    if (slot < 1 || slot > 2 || !workers_[slot].channel)
        return;
    workers_[slot].channel->stop = true;
    if (!workers_[slot].channel->haltAndWait(haltLimitMs_))
        abandonWorker(slot);
    halted_[slot] = true;
}

void DownEngine::collect(int slot)
{
    if (slot < 1 || slot > 2)
        return;
    halt(slot);
    drain(slot);
}

void DownEngine::closeSlot(int slot)
{
    if (!halted_[slot])
        halt(slot);
    socketState_[slot] = DownSocket::Closed;
    conn_[slot] = 0;
    limiter_->setActive(slot, false);
    watchLimits();
}

void DownEngine::setSpeedLimit(qint64 bytesPerSecond)
{
    limiter_->setLimit(bytesPerSecond);
    watchLimits();
}

void DownEngine::taskSpeedLimitChanged(int row)
{
    for (int slot = 1; slot <= 2; ++slot) {
        if (DownRow[slot] == row)
            limiter_->setTaskLimit(slot, model_.task(row).SpeedLimit);
    }
    watchLimits();
}

void DownEngine::limitTick()
{
    limiter_->refill(host_.monotonicMs());
}

void DownEngine::watchLimits()
{
    if (limiter_->limiting() == limitTick_.isActive())
        return;
    if (limitTick_.isActive()) {
        limitTick_.stop();
        return;
    }
    limiter_->refill(host_.monotonicMs());  // the time counts from now
    limitTick_.start();
}

void DownEngine::drain(int slot)
{
    std::deque<SlotReport> &inbox = inbox_[slot];
    if (workers_[slot].channel) {
        for (SlotReport &r : workers_[slot].channel->takeReports())
            inbox.push_back(std::move(r));
    }
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
        // The wait sees the connection stand and sends the request.
        if (session->connecting() && session->bBusy && !session->bCancel
            && socketState_[slot] == DownSocket::Connected) {
            session->sendRequestNow();
            // The record keeps the path from the first request on.
            if (const int row = session->WhichDown; row > 0) {
                model_.task(row).FilePath = session->mFile;
                model_.transition(row, TaskState::Downloading);
                model_.recordChanged();
            }
        }
        break;
    case SlotReport::Kind::Arrival:
    case SlotReport::Kind::Progress:
        if (!session->bBusy)
            return;
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
    if (r.renamedTo && session.WhichDown > 0) {
        session.mFile = *r.renamedTo;
        model_.task(session.WhichDown).FilePath = *r.renamedTo;
        model_.setNameFromServer(session.WhichDown, false);
        model_.recordChanged();
    }
    // The list keeps the validator: a later resume asks with it.
    if (r.validator && session.WhichDown > 0
        && model_.task(session.WhichDown).Validator != *r.validator) {
        model_.task(session.WhichDown).Validator = *r.validator;
        model_.recordChanged();
    }
    if (r.pieceMode || session.pieces) {
        takePieces(slot, session, r);
        return;
    }
    // A file that held other bytes has started over: so do its record and map.
    const qint64 shown = r.startedOver ? 0 : session.ReceiveBytes;
    if (r.onDisk == shown && !r.startedOver)
        return;
    // Only bytes of the body tell that the server still sends the file.
    if (r.onDisk > shown)
        session.lastHeardMs = host_.monotonicMs();
    session.ReceiveBytes = r.onDisk;
    if (session.WhichDown > 0) {
        model_.task(session.WhichDown).GotSize = r.onDisk;
        if (r.onDisk > 0)
            model_.setNameFromServer(session.WhichDown, false);  // its name is settled
    }
    if (r.onDisk > shown)
        host_.DrawDownPic(slot, r.onDisk - shown, r.mFlen, shown);
}

void DownEngine::takePieces(int slot, clsDown &session, const SlotReport &r)
{
    session.connections = r.connections;
    if (!r.pieceMode || r.startedOver) {
        // The file started over from one answer: no pieces any more.
        session.pieces.reset();
        host_.DrawDownPic(slot, 0, r.mFlen, 0);
        if (!r.pieceMode) {
            session.ReceiveBytes = 0;
            takeFigures(slot, session, r);
            return;
        }
    }
    if (!session.pieces) {
        // The bytes from the start on were the one answer's.
        session.pieces.emplace(r.mFlen);
        session.pieces->add(0, session.ReceiveBytes);
    }
    for (const PieceMap::Range &range : r.pieces)
        session.pieces->add(range.first, range.second);
    if (r.onDisk > session.ReceiveBytes)
        session.lastHeardMs = host_.monotonicMs();
    session.ReceiveBytes = r.onDisk;
    if (session.WhichDown > 0)
        model_.task(session.WhichDown).GotSize = r.onDisk;
    if (!r.pieces.isEmpty())
        host_.drawPieces(slot, *session.pieces, r.pieces);
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
        urlChangeAnswered(*session, session->startBytes > 0);
        break;
    case SaveResult::Partial206:
        urlChangeAnswered(*session, false);
        host_.appendLog(url + QStringLiteral("开始从") + QString::number(rangeStart)
                        + QStringLiteral("断点续传下载"));
        break;
    case SaveResult::NotFound404:
        host_.appendLog(url + QStringLiteral("文件不存在"));
        CloseSocket(Index, EndReason::NotFound);
        break;
    case SaveResult::Error:
    case SaveResult::Refused:
        CloseSocket(Index,
                    status == SaveResult::Refused ? EndReason::Refused : EndReason::BadAnswer);
        host_.appendLog(url + QStringLiteral("出错了"));
        break;
    case SaveResult::Cancel:
        CloseSocket(Index, EndReason::UserCancel);
        return;
    case SaveResult::WriteFail:
        CloseSocket(Index, EndReason::WriteFailed);
        break;
    case SaveResult::Changed: {
        const int row = session->WhichDown;
        const bool newAddress = row > 0 && model_.task(row).UrlChanged;
        if (newAddress)
            urlChangeAnswered(*session, true);
        CloseSocket(Index, EndReason::ServerChanged);
        if (newAddress && !closing_) {
            // Nothing on disk is of this file: from the first byte, first in line.
            TaskRecord &task = model_.task(row);
            task.GotSize = 0, task.FileSize = 0, task.SizeOpen = false, task.Validator.clear();
            model_.enqueue(row, true);
        }
        break;
    }
    case SaveResult::LocalChanged:
        CloseSocket(Index, EndReason::LocalChanged);
        break;
    case SaveResult::Redirect:
        // A redirect found while the session is being ended, or the program
        // is, is not followed.
        if (!collecting_[Index] && !closing_)
            followRedirect(Index, session);
        return;
    }
    if (length >= 1 && session->WhichDown > 0) {
        model_.setSize(session->WhichDown, length);
    }
    // The whole body is here: no need to wait for the server to close.
    if (session->bBusy && session->bodyDone())
        CloseSocket(Index, EndReason::BodyDone);
}

void DownEngine::Wsock_Close(int Index)
{
    CloseSocket(Index, EndReason::SocketClosed);
}

void DownEngine::Wsock_Error(int Index, int Number, const QString &Description)
{
    // Neither the number nor the text is shown: the reason is the trace.
    Q_UNUSED(Number);
    Q_UNUSED(Description);
    CloseSocket(Index, EndReason::SocketError);
}

void DownEngine::Wsock_CertificateRefused(int Index, const QString &why)
{
    host_.appendLog(down_[Index]->DownUrl + QStringLiteral("的服务器证书无法验证：") + why);
    down_[Index]->refusal = EndReason::CertificateRefused;
    CloseSocket(Index, EndReason::CertificateRefused);
}

void DownEngine::Wsock_TunnelRefused(int Index, const QString &statusLine)
{
    // The status line only: the request that carried the password is not shown.
    host_.appendLog(down_[Index]->DownUrl + QStringLiteral("：代理服务器拒绝了连接：")
                    + statusLine);
    down_[Index]->refusal = EndReason::ProxyRefused;
    CloseSocket(Index, EndReason::ProxyRefused);
}

void DownEngine::followRedirect(int Index, const std::shared_ptr<clsDown> &session)
{
    const int row = session->WhichDown;
    QString why;
    const QString target = session->redirectTarget(&why);
    if (target.isEmpty()) {
        host_.appendLog(session->DownUrl + why);
        CloseSocket(Index, EndReason::RedirectFailed);
    } else {
        host_.appendLog(session->DownUrl + QStringLiteral("重定向到：") + target);
        closeSlot(Index);
        session->fromUser = false;  // the user's start has connected once
        if (session->followRedirect(target))
            return;
    }
    // Like a failed connection: something is wrong with where the URL leads.
    if (row > 0 && DownRow[1] != row && DownRow[2] != row)
        model_.transition(row, TaskState::Error);
}
