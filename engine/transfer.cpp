#include "engine/transfer.h"

#include "tasks/gbktext.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

bool hasContentRangeLine(const QByteArray &header)
{
    return header.toLower().contains("\r\ncontent-range:");
}

}  // namespace

Transfer::Transfer(const Start &start, const std::atomic<bool> &cancel)
    : cancel_(cancel), mFile_(start.mFile), ReceiveBytes_(start.ReceiveBytes), mFlen_(start.mFlen),
      mSizeOpen_(start.mSizeOpen), rangeSent_(start.rangeSent)
{}

Transfer::~Transfer()
{
#ifdef Q_OS_LINUX
    for (const int fd : pipe_) {
        if (fd >= 0)
            ::close(fd);
    }
#endif
}

QByteArray Transfer::location() const
{
    return Response::location(header_.header()).value_or(QByteArray());
}

SaveResult Transfer::SaveData(qint64 ByteNum, const QByteArray &ByteData, qint64 &Flen)
{
    startedOver_ = false;
    // A stop has been asked for: nothing more of this answer counts, whatever
    // is still on its way to us.
    if (cancel_.load())
        return bHeaderDone_ ? SaveResult::Nothing : SaveResult::Cancel;
    const QByteArrayView arrival(ByteData.constData(),
                                 qBound<qint64>(0, ByteNum, ByteData.size()));
    SaveResult result = SaveResult::Nothing;
    // The body bytes of this arrival: a part of it, or decoded chunks.
    QByteArrayView body;
    QByteArray decoded;

    if (!bHeaderDone_) {
        // The window puts it on the clipboard, as it stands after this arrival.
        ReceiveData_ += GbkText::decode(arrival);
        const qsizetype bodyStart = header_.feed(arrival);
        // A header may also end inside the arrival that makes it too long.
        if (header_.tooLong() || header_.header().size() > Response::MaxHeaderBytes)
            return SaveResult::Error;
        status_ = header_.status();
        switch (status_) {
        case Response::Status::Unknown:
            // The status line has not ended yet; a header cannot end before it.
            if (bodyStart >= 0)
                return SaveResult::Error;
            break;
        case Response::Status::Error: {
            const int code = header_.code();
            if (code != 408 && code != 429 && code != 500 && code != 502 && code != 503
                && code != 504)
                return SaveResult::Error;
            // A busy server may say when to come back, further down its header.
            if (bodyStart < 0)
                break;
            serverBusy_ = true;
            retryAfter_ = Response::retryAfter(header_.header()).value_or(-1);
            return SaveResult::Error;
        }
        case Response::Status::Ok200:
            result = SaveResult::Ok200;
            break;
        case Response::Status::Partial206:
            result = SaveResult::Partial206;
            break;
        case Response::Status::NotFound404:
            result = SaveResult::NotFound404;
            break;
        case Response::Status::Redirect:
        case Response::Status::RangeNotSatisfiable:
            break;  // decided once the whole header is here
        }

        // Only a file's own response tells its length; the length of an
        // error page is not the file's.
        const bool fileResponse
            = status_ == Response::Status::Ok200 || status_ == Response::Status::Partial206;
        if (fileResponse && mFlen_ == 0) {
            const auto length = Response::contentLength(header_.header());
            if (length && *length > 0) {
                mFlen_ = *length;
                Flen = mFlen_;
            }
        }

        if (bodyStart < 0) {
            if (cancel_.load())
                result = SaveResult::Cancel;
            return result;
        }

        bHeaderDone_ = true;
        if (status_ == Response::Status::NotFound404)
            return result;  // the page that says so is no part of the file
        if (status_ == Response::Status::Redirect)
            return SaveResult::Redirect;  // nor is the page of a redirect
        if (status_ == Response::Status::RangeNotSatisfiable) {
            // Asked from where our file ends, a server answers 416 when the
            // file has no more: then its total is our length, and we are done.
            const auto range = Response::contentRange(header_.header());
            if (!mSizeOpen_ || !range || range->first >= 0 || range->total != ReceiveBytes_)
                return SaveResult::Error;
            Flen = mFlen_ = range->total;
            mSizeOpen_ = false;
            bodyDone_ = true;
            return result;
        }
        if (const SaveResult refused = checkResumption(header_.header(), Flen);
            refused != SaveResult::Nothing)
            return refused;
        const QByteArray &header = header_.header();
        chunked_ = Response::isChunked(header);
        if (!chunked_) {
            const auto length = Response::contentLength(header);
            const auto range = Response::contentRange(header);
            if (length)
                bodyLeft_ = *length;
            else if (status_ == Response::Status::Partial206 && range)
                bodyLeft_ = range->last - range->first + 1;
        }
        const QByteArrayView rest = arrival.sliced(bodyStart);
        if (chunked_) {
            if (!chunks_.feed(rest, decoded))
                return SaveResult::Error;
            body = decoded;
        } else {
            body = rest;
        }
    } else if (chunked_) {
        if (!chunks_.feed(arrival, decoded))
            return SaveResult::Error;
        body = decoded;
    } else {
        body = arrival;
    }

    // Whatever a server sends after the length it declared is not the file's.
    if (bodyLeft_ >= 0 && body.size() > bodyLeft_)
        body = body.first(bodyLeft_);
    switch (writeBody(body.constData(), body.size())) {
    case Written::Ok:
        break;
    case Written::Failed:
        return SaveResult::WriteFail;
    case Written::LocalChanged:
        return SaveResult::LocalChanged;
    }
    if (bodyLeft_ >= 0) {
        bodyLeft_ -= body.size();
        bodyDone_ = bodyLeft_ == 0;
    } else if (chunked_ && chunks_.finished()) {
        bodyDone_ = true;
        // The last chunk tells the length a chunked answer never declared.
        if (mFlen_ == 0 && ReceiveBytes_ > 0)
            Flen = mFlen_ = ReceiveBytes_;
    }
    return result;
}

SaveResult Transfer::checkResumption(const QByteArray &header, qint64 &Flen)
{
    const bool partial = status_ == Response::Status::Partial206;
    const auto range = Response::contentRange(header);
    if (partial && hasContentRangeLine(header) && (!range || range->first != ReceiveBytes_))
        return SaveResult::Error;  // bytes from another place than the one asked for
    if (!rangeSent_)
        return SaveResult::Nothing;
    if (mSizeOpen_) {
        // Only the server knows the size of a file this large: a 206 from
        // where ours ends says it, a 200 starts over with its own length.
        const auto exact
            = partial ? (range && range->total > 0 ? std::optional(range->total) : std::nullopt)
                      : Response::contentLength(header);
        if (exact && *exact > 0) {
            Flen = mFlen_ = *exact;
            mSizeOpen_ = false;
        }
        return SaveResult::Nothing;
    }
    // The length the server gives now: a 206's total, a 200's Content-Length.
    std::optional<qint64> total;
    if (partial && range && range->total >= 0)
        total = range->total;
    else if (!partial)
        total = Response::contentLength(header);
    if (partial && !total)
        return SaveResult::Nothing;  // a 206 that does not say: the start matched
    if (total == std::optional<qint64>(mFlen_))
        return SaveResult::Nothing;
    // Another length: another file. With nothing on disk yet there is nothing
    // to protect, and the new length is the one to count against.
    if (ReceiveBytes_ == 0 && total && *total > 0) {
        Flen = mFlen_ = *total;
        return SaveResult::Nothing;
    }
    return SaveResult::Changed;
}

Transfer::Written Transfer::writeBody(const char *data, qint64 n)
{
    // An arrival without body bytes starts nothing over: a server that says
    // 200 and sends nothing leaves what is on disk as it is.
    if (firstWrite_ && n > 0) {
        firstWrite_ = false;
        // A full answer where bytes are already on disk (the server ignored
        // our Range, or an old file sits under the chosen name) starts over:
        // appending would put the file's beginning after old bytes. A
        // negative count (a damaged list) starts over too, or the counts
        // would never match the file. The map and the size column follow
        // with this arrival, drawn from a count of 0.
        const QFileInfo info(mFile_);
        const bool onDisk = ReceiveBytes_ != 0 || (info.exists() && info.size() > 0);
        if (status_ == Response::Status::Ok200 && onDisk) {
            QFile file(mFile_);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                return Written::Failed;
            file.close();
            ReceiveBytes_ = 0;
            startedOver_ = true;
        }
    }

    QFile file(mFile_);
    if (const Written opened = openFile(file); opened != Written::Ok)
        return opened;
    if (n == 0)
        return Written::Ok;
    // Cut or grown by someone else since our last arrival: whatever we wrote
    // now would land at the wrong place.
    const qint64 before = file.size();
    if (before != ReceiveBytes_)
        return Written::LocalChanged;
    // Written before counted: the counts never claim bytes the file lacks.
    bool ok = file.seek(before) && file.write(data, n) == n;
    if (!ok)
        file.resize(before);  // no half arrival stays behind
    file.close();
    if (!ok || file.error() != QFileDevice::NoError)
        return Written::Failed;

    ReceiveBytes_ += n;
    return Written::Ok;
}

Transfer::Written Transfer::openFile(QFile &file) const
{
    // Unbuffered, so a write cut short is cut short on disk too, and the cut
    // after it takes it back whatever the arrival's size. A file that already
    // holds bytes of ours is never made anew: deleted, it is the local file
    // that changed.
    const QIODevice::OpenMode mode
        = QIODevice::ReadWrite | QIODevice::Unbuffered
          | (ReceiveBytes_ > 0 ? QIODevice::ExistingOnly : QIODevice::NotOpen);
    if (!file.open(mode))
        return ReceiveBytes_ > 0 && !file.exists() ? Written::LocalChanged : Written::Failed;
    return Written::Ok;
}

bool Transfer::canSplice() const
{
#ifdef Q_OS_LINUX
    // ZV_NO_SPLICE=1 keeps every arrival on the read and write road, so the
    // bench can weigh the two on the same machine.
    static const bool off = qEnvironmentVariableIsSet("ZV_NO_SPLICE");
    return !off && bHeaderDone_ && !firstWrite_ && !chunked_ && bodyLeft_ > 0;
#else
    return false;
#endif
}

#ifdef Q_OS_LINUX

SaveResult Transfer::spliceBody(int socketFd, qint64 &fromConnection)
{
    startedOver_ = false;
    fromConnection = -2;
    if (cancel_.load() || !canSplice())
        return SaveResult::Nothing;
    if (pipe_[0] < 0) {
        if (::pipe2(pipe_, O_CLOEXEC) != 0)
            return SaveResult::WriteFail;
        // As much as one read took before: it stays in the processor's cache.
        ::fcntl(pipe_[1], F_SETPIPE_SZ, 256 * 1024);
    }
    // The same checks as every write: the file must still be ours and as
    // long as the count, or whatever we wrote would land at the wrong place.
    QFile file(mFile_);
    if (const Written opened = openFile(file); opened != Written::Ok)
        return opened == Written::LocalChanged ? SaveResult::LocalChanged : SaveResult::WriteFail;
    if (file.size() != ReceiveBytes_)
        return SaveResult::LocalChanged;
    // Nothing past the declared length leaves the connection.
    const ssize_t got
        = ::splice(socketFd, nullptr, pipe_[1], nullptr,
                   size_t(qMin<qint64>(bodyLeft_, 256 * 1024)), SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    const int spliceError = errno;
    fromConnection = got;
    if (got <= 0) {
        errno = spliceError;
        return SaveResult::Nothing;
    }
    if (!drainPipeInto(file.handle(), got)) {
        // No part of the arrival stays behind, and the pipe is left empty.
        file.resize(ReceiveBytes_);
        ::close(pipe_[0]), ::close(pipe_[1]);
        pipe_[0] = pipe_[1] = -1;
        return SaveResult::WriteFail;
    }
    ReceiveBytes_ += got;
    bodyLeft_ -= got;
    bodyDone_ = bodyLeft_ == 0;
    return SaveResult::Nothing;
}

bool Transfer::drainPipeInto(int fd, qint64 n)
{
    loff_t at = ReceiveBytes_;
    while (n > 0) {
        const ssize_t put = ::splice(pipe_[0], nullptr, fd, &at, size_t(n), SPLICE_F_MOVE);
        if (put > 0) {
            n -= put;
            continue;
        }
        if (put == 0 || (errno != EINVAL && errno != ENOSYS))
            return false;
        // A file system that takes no spliced bytes takes written ones.
        char bytes[64 * 1024];
        while (n > 0) {
            const ssize_t taken = ::read(pipe_[0], bytes, size_t(qMin<qint64>(n, sizeof bytes)));
            if (taken <= 0 || ::pwrite(fd, bytes, size_t(taken), at) != taken)
                return false;
            at += taken;
            n -= taken;
        }
    }
    return true;
}

#else

SaveResult Transfer::spliceBody(int, qint64 &fromConnection)
{
    fromConnection = -2;
    return SaveResult::Nothing;
}

bool Transfer::drainPipeInto(int, qint64)
{
    return false;
}

#endif
