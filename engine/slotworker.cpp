#include "engine/slotworker.h"

#include "engine/ratelimiter.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <tuple>

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
    for (const auto &link : links_) {
        link->socket->disconnect(this);
        link->socket->Close();
        link->socket->deleteLater();
    }
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

// ---- Several connections for one file ----

void SlotWorker::wrote(const Transfer &t, qint64 before)
{
    const qint64 after = t.ReceiveBytes();
    if (!piecesOn() || after <= before)
        return;
    map_->add(before, after);
    if (!newRanges_.isEmpty() && newRanges_.last().second == before)
        newRanges_.last().second = after;
    else
        newRanges_ << PieceMap::Range(before, after);
}

void SlotWorker::firstAnswerFlows()
{
    // Only the whole file, or exactly the part asked for, of known size and
    // named by a validator every other connection can ask with (If-Range):
    // an answer without 206 to a range keeps its one connection.
    const Transfer &t = *transfer_;
    const bool whole = t.status() == Response::Status::Ok200 && !t.plan().rangeSent();
    if ((!whole && t.status() != Response::Status::Partial206) || t.mFlen() <= 0 || t.mSizeOpen()
        || t.fileValidator().isEmpty())
        return;
    primaryFlowed_ = true;
    file_ = t.filePath();  // the server's name, when the file took it
    size_ = t.mFlen();
    validator_ = t.fileValidator();
    // The speed is measured from the first byte on.
    samples_ = {{0, piecesOn() ? map_->done() : t.ReceiveBytes()}};
    sinceStep_ = 0;
    tickClock_.start();
    if (connections_ > 1)
        growTick();
}

bool SlotWorker::mayJoin() const
{
    return primaryFlowed_ && !ending_ && size_ > 0 && !channel_.stop.load();
}

int SlotWorker::allowed() const
{
    return qMin(connections_ > 0 ? connections_ : target_, cap_);
}

bool SlotWorker::saveMap()
{
    return piecesOn() && !map_->whole() && map_->save(file_);
}

bool SlotWorker::enterPieces()
{
    if (piecesOn())
        return true;
    if (!transfer_)
        return false;
    map_.emplace(size_);
    map_->add(0, transfer_->ReceiveBytes());
    newRanges_ = map_->ranges();  // the window's map starts from all of it
    // Before any byte lands away from the end of what is on disk.
    if (!saveMap()) {
        map_.reset();
        growStopped_ = true;
        cap_ = 1;
        return false;
    }
    transfer_->setPieceEnd(size_);
    saveTick_.start();
    return true;
}

bool SlotWorker::openLink()
{
    if (!mayJoin() || running() >= allowed() || !enterPieces())
        return false;
    qint64 from = 0, end = 0;
    if (!free_.isEmpty()) {
        std::tie(from, end) = free_.takeFirst();
    } else {
        // The upper half of the largest piece still open, when both halves
        // are worth a connection.
        Transfer *owner = transfer_ ? &*transfer_ : nullptr;
        for (const auto &link : links_) {
            const Transfer &t = *link->transfer;
            if (!owner
                || t.pieceEnd() - t.ReceiveBytes() > owner->pieceEnd() - owner->ReceiveBytes())
                owner = &*link->transfer;
        }
        if (!owner)
            return false;
        const qint64 at = owner->ReceiveBytes(), ownerEnd = owner->pieceEnd();
        const qint64 block = 4096;
        const qint64 mid = (at + (ownerEnd - at) / 2 + block - 1) / block * block;
        if (mid - at < MinPiece || ownerEnd - mid < MinPiece)
            return false;
        owner->setPieceEnd(mid);
        from = mid;
        end = ownerEnd;
    }
    RequestInput in = input_;
    in.mFlen = size_;
    in.mSizeOpen = false;
    in.ReceiveBytes = from;
    in.RangeLast = end - 1;
    in.Validator = validator_;
    const RequestPlan plan(in);
    auto link = std::make_unique<Link>();
    Link *raw = link.get();
    link->transfer.emplace(Transfer::Start{plan, file_, false, {}}, channel_.stop);
    link->socket = new DownSocket(socket_->index(), this);
    link->socket->setLimiter(socket_->limiter());
    const QString request = plan.request();
    connect(link->socket, &DownSocket::connectEvent, this,
            [raw, request] { raw->socket->SendData(request); });
    connect(link->socket, &DownSocket::dataArrival, this, [this, raw] { onLinkData(raw); });
    connect(link->socket, &DownSocket::closeEvent, this, [this, raw] { onLinkEnd(raw); });
    connect(link->socket, &DownSocket::errorEvent, this, [this, raw] { onLinkEnd(raw); });
    link->socket->RemoteHost = where_.host;
    link->socket->RemotePort = where_.port;
    link->socket->TlsPeerName = where_.tlsPeerName;
    link->socket->TunnelTarget = where_.tunnelTarget;
    link->socket->TunnelAuthorization = where_.tunnelAuthorization;
    links_.push_back(std::move(link));
    raw->socket->Connect();
    return true;
}

void SlotWorker::onLinkData(Link *link)
{
    const QByteArray bytes = link->socket->GetData();
    Transfer &t = *link->transfer;
    const qint64 before = t.ReceiveBytes();
    qint64 length = 0;
    const SaveResult status = t.SaveData(bytes.size(), bytes, length);
    wrote(t, before);
    if (!afterLinkArrival(link, status))
        return;
    // The rest of its piece goes from the connection to the file inside the
    // kernel, as the first connection's does.
    if (t.canSplice() && !link->socket->takeDirect)
        link->socket->takeDirect = [this, link](int descriptor, qint64 most) {
            return onLinkDirect(link, descriptor, most);
        };
}

qint64 SlotWorker::onLinkDirect(Link *link, int descriptor, qint64 most)
{
    Transfer &t = *link->transfer;
    const qint64 before = t.ReceiveBytes();
    qint64 fromConnection = -2;
    const SaveResult status = t.spliceBody(descriptor, most, fromConnection);
    const int error = errno;
    wrote(t, before);
    afterLinkArrival(link, status);
    errno = error;
    return fromConnection;
}

bool SlotWorker::afterLinkArrival(Link *link, SaveResult status)
{
    switch (status) {
    case SaveResult::Nothing:
    case SaveResult::Ok200:
    case SaveResult::Partial206:
        if (link->transfer->bodyDone()) {
            dropLink(link, false);
            return false;
        }
        scheduleProgress();
        return true;
    case SaveResult::Cancel:
        return false;
    case SaveResult::Changed:
    case SaveResult::LocalChanged:
    case SaveResult::WriteFail: {
        // Of the whole task: it ends as its first connection's would.
        ending_ = true;
        SlotReport r;
        r.kind = SlotReport::Kind::Arrival;
        r.status = status;
        report(std::move(r));
        dropLink(link, true);
        return false;
    }
    default:
        // Turned away (429, 503, a 200 to a range, anything not asked for):
        // nothing of it was written; the others go on.
        turnedAway();
        dropLink(link, true);
        return false;
    }
}

void SlotWorker::onLinkEnd(Link *link)
{
    const bool done = link->transfer->bodyDone();
    if (!done)
        turnedAway();  // refused or reset
    dropLink(link, !done);
}

void SlotWorker::turnedAway()
{
    growStopped_ = true;
    cap_ = qMax(1, running() - 1);
}

void SlotWorker::dropLink(Link *link, bool failed)
{
    const auto at = std::find_if(links_.begin(), links_.end(),
                                 [link](const auto &l) { return l.get() == link; });
    if (at == links_.end())
        return;
    const std::unique_ptr<Link> gone = std::move(*at);
    links_.erase(at);
    gone->socket->disconnect(this);
    gone->socket->Close();
    gone->socket->deleteLater();
    if (failed)
        giveBack(gone->transfer->ReceiveBytes(), gone->transfer->pieceEnd());
    if (failed && running() == 0 && !ending_) {
        // The last connection failed: the session ends as one connection's
        // would, and a later try starts from the map.
        saveMap();
        ending_ = true;
        SlotReport r;
        r.kind = SlotReport::Kind::Error;
        report(std::move(r));
        return;
    }
    takeOver();
}

void SlotWorker::giveBack(qint64 from, qint64 end)
{
    if (end <= from)
        return;
    // The connection whose piece ends here goes on into it when its request
    // asked for these bytes too; then also into free ranges that follow.
    auto reach = [this](const Transfer &t) {
        return t.plan().pieceLast() >= 0 ? t.plan().pieceLast() + 1 : size_;
    };
    std::vector<Transfer *> all;
    if (transfer_)
        all.push_back(&*transfer_);
    for (const auto &link : links_)
        all.push_back(&*link->transfer);
    for (Transfer *t : all) {
        if (t->pieceEnd() != from || reach(*t) < end)
            continue;
        qint64 to = end;
        while (!free_.isEmpty() && free_.first().first == to && free_.first().second <= reach(*t))
            to = free_.takeFirst().second;
        t->setPieceEnd(to);
        return;
    }
    auto place = std::find_if(free_.begin(), free_.end(),
                              [from](const PieceMap::Range &r) { return r.first > from; });
    free_.insert(place, PieceMap::Range(from, end));
}

void SlotWorker::takeOver()
{
    if (ending_ || !piecesOn())
        return;
    if (map_->whole()) {
        // Complete: the map goes, and the window hears the end of the body.
        PieceMap::remove(file_);
        ending_ = true;
        saveTick_.stop();
        SlotReport r;
        r.kind = SlotReport::Kind::Arrival;
        report(std::move(r));
        return;
    }
    while (running() < allowed() && openLink()) {}
    if (running() == 0) {
        saveMap();
        ending_ = true;
        SlotReport r;
        r.kind = SlotReport::Kind::Error;
        report(std::move(r));
    }
}

void SlotWorker::growTick()
{
    if (!mayJoin())
        return;
    const qint64 done = piecesOn() ? map_->done() : transfer_ ? transfer_->ReceiveBytes() : 0;
    samples_.append({tickClock_.elapsed(), done});
    while (samples_.size() > 3)
        samples_.removeFirst();
    if (connections_ > 0) {
        while (running() < allowed() && openLink()) {}
        return;
    }
    // 自动: the first tick tells whether one connection is fast enough
    // already; a step is weighed on the speed over the two ticks after it
    // (servers that cap a connection often send in bursts a tick apart).
    const bool first = speedBefore_ == 0;
    // Under a speed limit more connections cannot raise the speed.
    const bool limited = socket_->limiter() && socket_->limiter()->limiting();
    if (limited || growStopped_ || target_ >= MaxConnections || ++sinceStep_ < (first ? 1 : 2))
        return;
    const qint64 ms = qMax<qint64>(1, samples_.last().first - samples_.first().first);
    const double speed
        = double(samples_.last().second - samples_.first().second) * 1000.0 / double(ms);
    // A step is kept only when it brought a clear share more.
    if ((!first && speed < speedBefore_ * 1.25) || (first && speed >= FastEnough)) {
        growStopped_ = true;
        return;
    }
    // Four times as many each step (1, 4, 16): a capped path is filled
    // within a second, and every step is weighed on its own.
    speedBefore_ = qMax(speed, 1.0);
    target_ = qMin(MaxConnections, target_ * 4);
    while (running() < allowed() && openLink()) {}
    sinceStep_ = 0;
}

void SlotWorker::endPieces()
{
    // Every end: the map claims what the connections wrote before it.
    if (piecesOn()) {
        if (map_->whole())
            PieceMap::remove(file_);
        else
            saveMap();
    }
    map_.reset();
    free_.clear();
    newRanges_.clear();
    saveTick_.stop();
}
