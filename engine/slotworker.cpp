#include "engine/slotworker.h"

#include <QSocketNotifier>
#include <cerrno>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

SlotWorker::SlotWorker(DownSocket *socket, SlotChannel &channel)
    : socket_(socket), channel_(channel)
{
    socket_->setParent(this);
    progress_.setSingleShot(true);
    connect(&progress_, &QTimer::timeout, this, &SlotWorker::reportProgress);
    connect(socket_, &DownSocket::connectEvent, this, &SlotWorker::onConnect);
    connect(socket_, &DownSocket::dataArrival, this, &SlotWorker::onData);
    connect(socket_, &DownSocket::closeEvent, this, &SlotWorker::onClose);
    connect(socket_, &DownSocket::errorEvent, this, &SlotWorker::onError);
    connect(socket_, &DownSocket::certificateRefused, this,
            [this](int, const QString &why) { onCertificateRefused(why); });
    connect(socket_, &DownSocket::tunnelRefused, this,
            [this](int, const QString &line) { onTunnelRefused(line); });
    sinceProgress_.start();
    growTick_.setInterval(GrowMs);
    connect(&growTick_, &QTimer::timeout, this, &SlotWorker::growTick);
    saveTick_.setInterval(SaveMapMs);
    connect(&saveTick_, &QTimer::timeout, this, &SlotWorker::saveMap);
}

SlotWorker::~SlotWorker()
{
    // Nothing of ours may touch the channel or its eventfd after the farewell.
    delete commandWatch_;
    delete socket_;
    channel_.farewell();
}

void SlotWorker::begin()
{
#ifdef Q_OS_LINUX
    // Nice is per thread here. A transfer keeps a core busy; a little less
    // weight lets the window's thread, woken by its timer or the user, take
    // a core at once instead of waiting out a busy transfer's time slice.
    const pid_t self = pid_t(syscall(SYS_gettid));
    setpriority(PRIO_PROCESS, id_t(self), getpriority(PRIO_PROCESS, id_t(self)) + 5);
#endif
    commandWatch_ = new QSocketNotifier(channel_.workerFd(), QSocketNotifier::Read, this);
    connect(commandWatch_, &QSocketNotifier::activated, this, &SlotWorker::takeCommands);
    takeCommands();  // whatever came before the watch
}

void SlotWorker::takeCommands()
{
    for (const SlotCommand &command : channel_.takeCommands())
        run(command);
}

void SlotWorker::run(const SlotCommand &command)
{
    switch (command.kind) {
    case SlotCommand::Kind::Halt:
        halt();
        channel_.halted(command.ticket);
        return;
    case SlotCommand::Kind::Connect:
        // The socket drops its old connection itself.
        progress_.stop();
        endPieces();
        transfer_.reset();
        conn_ = command.conn;
        where_ = command;
        socket_->RemoteHost = command.host;
        socket_->RemotePort = command.port;
        socket_->TlsPeerName = command.tlsPeerName;
        socket_->TunnelTarget = command.tunnelTarget;
        socket_->TunnelAuthorization = command.tunnelAuthorization;
        socket_->Connect();
        return;
    case SlotCommand::Kind::Send:
        // A request for a connection given up meanwhile goes nowhere.
        if (command.conn != conn_ || socket_->State() == DownSocket::Closed)
            return;
        // Ready for the answer before the request can bring one.
        transfer_.emplace(command.start, channel_.stop);
        reported_ = command.start.plan.count();
        input_ = command.input;
        file_ = command.start.mFile;
        connections_ = command.connections;
        taskUrl_ = command.taskUrl;
        size_ = command.start.plan.sizeOpen() ? 0 : command.start.plan.size();
        primaryFlowed_ = growStopped_ = ending_ = false;
        cap_ = MaxConnections;
        target_ = 1;
        speedBefore_ = 0;
        if (command.pieces && size_ > 0 && command.pieces->size() == size_) {
            // The pieces on disk stay; this answer fills the first hole,
            // up to where the next piece on disk starts.
            map_ = command.pieces;
            const qint64 from = transfer_->askedFrom();
            transfer_->setPieceEnd(map_->nextDoneFrom(from));
            for (const PieceMap::Range &hole : map_->holes()) {
                if (hole.first != from)
                    free_ << hole;
            }
            saveTick_.start();
        }
        growTick_.start();
        socket_->SendData(command.request);
        return;
    }
}

void SlotWorker::halt()
{
    // The window collects the last count before it decides how the session ended.
    if ((transfer_ && transfer_->ReceiveBytes() != reported_) || !newRanges_.isEmpty())
        reportProgress();
    progress_.stop();
    growTick_.stop();
    // Every connection closed first: the map then claims only what they wrote.
    for (const auto &link : links_)
        closeLink(*link);
    links_.clear();
    transfer_.reset();
    socket_->Close();
    endPieces();
}

void SlotWorker::onConnect()
{
    SlotReport r;
    r.kind = SlotReport::Kind::Connected;
    r.text = socket_->RemoteHostIP();
    report(std::move(r));
}

void SlotWorker::onData()
{
    const QByteArray bytes = socket_->GetData();
    if (!transfer_)
        return;  // nothing asked for yet, or the answer has ended
    const qint64 before = transfer_->ReceiveBytes();
    const bool inHeader = transfer_->inHeader();
    qint64 length = 0;
    const SaveResult status = transfer_->SaveData(bytes.size(), bytes, length);
    afterArrival(status, before, inHeader, length);
    // The rest of a plain body of known length goes from the connection to
    // the file inside the kernel: half the copying, none of it ours.
    if (transfer_ && transfer_->canSplice() && !socket_->takeDirect)
        socket_->takeDirect
            = [this](int descriptor, qint64 most) { return onDirect(descriptor, most); };
}

qint64 SlotWorker::onDirect(int descriptor, qint64 most)
{
    if (!transfer_)
        return -2;
    const qint64 before = transfer_->ReceiveBytes();
    qint64 fromConnection = -2;
    const SaveResult status = transfer_->spliceBody(descriptor, most, fromConnection);
    const int error = errno;
    if (fromConnection > 0 || status != SaveResult::Nothing)
        afterArrival(status, before, false, 0);
    errno = error;
    return fromConnection;
}

void SlotWorker::afterArrival(SaveResult status, qint64 before, bool inHeader, qint64 length)
{
    if (status == SaveResult::Cancel) {
        // Only a stop sets the flag, and the stop ends the session itself.
        transfer_.reset();
        return;
    }
    const bool answered = status == SaveResult::Nothing || status == SaveResult::Ok200
                          || status == SaveResult::Partial206;
    const bool ends = !answered || transfer_->bodyDone();
    if (piecesOn() && transfer_->startedOver()) {
        // The file changed and starts over from this answer: none of the
        // pieces on disk is of it any more (no other connection runs yet).
        map_.reset();
        free_.clear();
        newRanges_.clear();
        saveTick_.stop();
        PieceMap::remove(file_);
        transfer_->setPieceEnd(-1);
    }
    wrote(*transfer_, before);
    if (!primaryFlowed_ && answered && transfer_->flowing())
        firstAnswerFlows();
    if (piecesOn() && ends && primaryFlowed_) {
        const bool tookItsPart = answered;
        const bool others = !links_.empty();
        if (tookItsPart
            || (others && status != SaveResult::Changed && status != SaveResult::LocalChanged
                && status != SaveResult::WriteFail)) {
            // Its piece is done, or it gave up while others go on: they take
            // over what it leaves.
            if (!tookItsPart) {
                turnedAway();
                giveBack(transfer_->ReceiveBytes(), transfer_->pieceEnd());
            }
            transfer_.reset();
            socket_->Close();
            takeOver();
            if (!ending_)
                scheduleProgress();
            return;
        }
    }
    if (status == SaveResult::Nothing && length == 0 && !inHeader && !ends
        && !transfer_->startedOver()) {
        // A body arrival like most: its count goes with the next progress report.
        scheduleProgress();
        return;
    }
    SlotReport r;
    r.kind = SlotReport::Kind::Arrival;
    r.status = status;
    r.length = length;
    // A 206 tells where the resumed bytes start: where they were asked from.
    r.rangeStart = status == SaveResult::Partial206 ? transfer_->askedFrom() : before;
    r.inHeader = inHeader;
    if (inHeader)
        r.text = transfer_->ReceiveData();
    r.startedOver = transfer_->startedOver();
    if (status == SaveResult::Redirect)
        r.location = transfer_->location();
    const int state = socket_->State();
    report(std::move(r), state);
    if (ends) {
        // As the window's CloseSocket would have before the next arrival:
        // nothing more of this connection is read.
        transfer_.reset();
        socket_->Close();
    }
}

void SlotWorker::scheduleProgress()
{
    if (!progress_.isActive())
        progress_.start(qMax<qint64>(0, ProgressMs - sinceProgress_.elapsed()));
}

void SlotWorker::onClose()
{
    if (piecesOn() && transfer_ && primaryFlowed_ && !links_.empty()) {
        turnedAway();
        giveBack(transfer_->ReceiveBytes(), transfer_->pieceEnd());
        transfer_.reset();
        takeOver();
        return;
    }
    SlotReport r;
    r.kind = SlotReport::Kind::Closed;
    report(std::move(r));
}

void SlotWorker::onError()
{
    if (piecesOn() && transfer_ && primaryFlowed_ && !links_.empty()) {
        onClose();
        return;
    }
    SlotReport r;
    r.kind = SlotReport::Kind::Error;
    report(std::move(r));
}

void SlotWorker::onCertificateRefused(const QString &why)
{
    SlotReport r;
    r.kind = SlotReport::Kind::CertificateRefused;
    r.text = why;
    report(std::move(r));
}

void SlotWorker::onTunnelRefused(const QString &statusLine)
{
    SlotReport r;
    r.kind = SlotReport::Kind::TunnelRefused;
    r.text = statusLine;
    report(std::move(r));
}

void SlotWorker::reportProgress()
{
    if (!transfer_ && !piecesOn())
        return;
    SlotReport r;
    r.kind = SlotReport::Kind::Progress;
    report(std::move(r));
}

void SlotWorker::report(SlotReport r, int state)
{
    r.conn = conn_;
    r.socketState = state >= 0 ? state : socket_->State();
    if (piecesOn()) {
        // The task's figures: every connection's bytes, and the completion
        // rule never met while a hole remains.
        r.figures = r.pieceMode = true;
        if (!links_.empty())
            r.socketState = DownSocket::Connected;
        r.onDisk = map_->whole() ? size_ : qMax<qint64>(0, qMin(map_->done(), size_ - 2));
        r.mFlen = size_;
        r.bodyDone = map_->whole();
        if (transfer_) {
            r.serverBusy = transfer_->serverBusy();
            r.retryAfter = transfer_->retryAfterSeconds();
            r.validator = transfer_->takeValidator();
        }
        r.pieces = std::exchange(newRanges_, {});
        r.connections = running();
        reported_ = transfer_ ? transfer_->ReceiveBytes() : 0;
        progress_.stop();
        sinceProgress_.restart();
    } else if (transfer_) {
        r.connections = 1;
        r.figures = true;
        r.onDisk = transfer_->ReceiveBytes();
        r.mFlen = transfer_->mFlen();
        r.mSizeOpen = transfer_->mSizeOpen();
        r.bodyDone = transfer_->bodyDone();
        r.serverBusy = transfer_->serverBusy();
        r.retryAfter = transfer_->retryAfterSeconds();
        r.validator = transfer_->takeValidator();
        r.renamedTo = transfer_->takeRenamed();
        reported_ = r.onDisk;
        progress_.stop();
        sinceProgress_.restart();
    }
    channel_.pushReport(std::move(r));
}
