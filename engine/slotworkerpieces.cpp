// SlotWorker, continued: the task's further connections. The first answer
// is the first piece; others ask ranges of the rest, each judged before it
// writes a byte, and the map of what is on disk follows every write.
#include "engine/ratelimiter.h"
#include "engine/slotworker.h"

#include <algorithm>
#include <cerrno>
#include <tuple>

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
    if (piecesOn())
        map_->setValidator(validator_);  // a map from before names what it holds
    // The speed is measured from the first byte on.
    samples_ = {{0, piecesOn() ? map_->done() : t.ReceiveBytes()}};
    sinceStep_ = 0;
    tickClock_.start();
    if (connections_ > 1)
        growTick();
    else
        growTick_.start(GrowMs);  // 自动's first look: a whole tick of one connection
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
    map_->setValidator(validator_);
    map_->setUrl(taskUrl_);
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
        endSession(SlotReport::Kind::Arrival, status);
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
    closeLink(*gone);
    if (failed)
        giveBack(gone->transfer->ReceiveBytes(), gone->transfer->pieceEnd());
    if (failed && running() == 0 && !ending_) {
        // The last connection failed: the session ends as one connection's
        // would, and a later try starts from the map.
        endSession(SlotReport::Kind::Error);
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
        saveTick_.stop();
        endSession(SlotReport::Kind::Arrival);
        return;
    }
    while (running() < allowed() && openLink()) {}
    if (running() == 0)
        endSession(SlotReport::Kind::Error);
}

void SlotWorker::endSession(SlotReport::Kind kind, SaveResult status)
{
    if (kind == SlotReport::Kind::Error)
        saveMap();  // a later try starts from it
    ending_ = true;
    SlotReport r;
    r.kind = kind;
    r.status = status;
    report(std::move(r));
}

void SlotWorker::closeLink(Link &link)
{
    link.socket->disconnect(this);
    link.socket->Close();
    link.socket->deleteLater();
}

void SlotWorker::growTick()
{
    if (!mayJoin())
        return;
    if (connections_ > 0) {
        while (running() < allowed() && openLink()) {}
        return;
    }
    // Under a speed limit more connections cannot raise the speed.
    const bool limited = socket_->limiter() && socket_->limiter()->limiting();
    if (limited || growStopped_ || target_ >= MaxConnections)
        return;
    // The speed since the last step (or the first byte).
    const qint64 done = piecesOn() ? map_->done() : transfer_ ? transfer_->ReceiveBytes() : 0;
    samples_.append({tickClock_.elapsed(), done});
    ++sinceStep_;
    const qint64 ms = qMax<qint64>(1, samples_.last().first - samples_.first().first);
    const double speed
        = double(samples_.last().second - samples_.first().second) * 1000.0 / double(ms);
    if (speedBefore_ == 0) {
        // The first look tells whether one connection is fast enough already.
        if (speed >= FastEnough) {
            growStopped_ = true;
            return;
        }
    } else {
        // A step that plainly paid shows it within a tick. A smaller gain is
        // weighed over two ticks (servers that cap a connection often send in
        // bursts a tick apart, and a far server answers the new connections
        // late); a step is kept only when it brought a clear share more.
        const bool plain = speed >= speedBefore_ * 2;
        if (!plain && sinceStep_ < 2)
            return;
        if (!plain && speed < speedBefore_ * 1.25) {
            growStopped_ = true;
            return;
        }
    }
    // Four times as many each step (1, 4, 16): a capped path is filled
    // within half a second, and every step is weighed on its own.
    speedBefore_ = qMax(speed, 1.0);
    target_ = qMin(MaxConnections, target_ * 4);
    while (running() < allowed() && openLink()) {}
    sinceStep_ = 0;
    samples_ = {samples_.last()};
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
