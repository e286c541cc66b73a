#include "engine/filesink.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The system calls are made here directly, not through QFile: an
// interrupted call (EINTR, a signal arriving during it) has to be made
// again, and a close that fails after a good write has to take the bytes
// back. QFile tells neither apart from a failure.

namespace {

// Runs `call` again for as long as a signal interrupts it.
template <typename Call>
auto again(Call call)
{
    decltype(call()) result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

}  // namespace

FileSink::FileSink(const QString &path, qint64 count)
    : path_(QFile::encodeName(path)), count_(count)
{}

FileSink::~FileSink()
{
    dropPipe();
}

bool FileSink::holdsBytes() const
{
    struct stat info {};
    return count_ != 0 || (::stat(path_.constData(), &info) == 0 && info.st_size > 0);
}

void FileSink::moveTo(const QString &path)
{
    Q_ASSERT(count_ == 0 && pipe_[0] < 0);
    path_ = QFile::encodeName(path);
}

FileSink::Result FileSink::startOver()
{
    const int fd = again(
        [&] { return ::open(path_.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); });
    if (fd < 0 || ::close(fd) != 0)
        return Result::Failed;
    count_ = 0;
    return Result::Ok;
}

int FileSink::open(Result &why, bool create) const
{
    // A file that already holds bytes of ours is never made anew: deleted,
    // it is the local file that changed.
    const int flags = O_RDWR | O_CLOEXEC | (create && count_ <= 0 && !holes_ ? O_CREAT : 0);
    const int fd = again([&] { return ::open(path_.constData(), flags, 0666); });
    if (fd < 0) {
        why = (count_ > 0 || holes_) && errno == ENOENT ? Result::LocalChanged : Result::Failed;
        return -1;
    }
    why = Result::Ok;
    return fd;
}

FileSink::Result FileSink::finish(int fd, bool ok) const
{
    if (!ok && !holes_)
        again([&] { return ::ftruncate(fd, count_); });
    // A close that fails (the last of the data could not be stored: a full
    // network disk, say) loses what the write took: take it all back. On
    // Linux an interrupted close has closed the file all the same.
    if (::close(fd) != 0 && errno != EINTR) {
        if (!holes_)
            again([&] { return ::truncate(path_.constData(), count_); });
        return Result::Failed;
    }
    return ok ? Result::Ok : Result::Failed;
}

bool FileSink::lengthHolds(int fd) const
{
    struct stat info {};
    return ::fstat(fd, &info) == 0 && (holes_ || info.st_size == count_);
}

FileSink::Result FileSink::write(QByteArrayView bytes)
{
    Result why;
    const int fd = open(why, true);
    if (fd < 0)
        return why;
    if (bytes.isEmpty())
        return finish(fd, true);
    // Cut or grown by someone else since our last arrival: whatever we wrote
    // now would land at the wrong place.
    if (!lengthHolds(fd)) {
        ::close(fd);
        return Result::LocalChanged;
    }
    // Written before counted: the count never claims bytes the file lacks.
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t put = again([&] {
            return ::pwrite(fd, bytes.data() + done, size_t(bytes.size() - done), count_ + done);
        });
        if (put <= 0)
            return finish(fd, false);  // no half arrival stays behind
        done += put;
    }
    const Result closed = finish(fd, true);
    if (closed == Result::Ok)
        count_ += done;
    return closed;
}

#ifdef Q_OS_LINUX

FileSink::Result FileSink::splice(int socketFd, qint64 most, qint64 &fromConnection)
{
    fromConnection = -2;
    if (pipe_[0] < 0) {
        if (::pipe2(pipe_, O_CLOEXEC) != 0)
            return Result::Failed;
        // As much as one read took before: it stays in the processor's cache.
        ::fcntl(pipe_[1], F_SETPIPE_SZ, 256 * 1024);
    }
    // The same checks as every write: the file must still be ours and as
    // long as the count, or whatever we moved would land at the wrong place.
    Result why;
    const int fd = open(why, false);
    if (fd < 0)
        return why;
    if (!lengthHolds(fd)) {
        ::close(fd);
        return Result::LocalChanged;
    }
    const ssize_t got = again([&] {
        return ::splice(socketFd, nullptr, pipe_[1], nullptr,
                        size_t(qMin<qint64>(most, 256 * 1024)), SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    });
    const int spliceError = errno;
    fromConnection = got;
    if (got <= 0) {
        ::close(fd);
        errno = spliceError;
        return Result::Ok;
    }
    if (!drainPipeInto(fd, got)) {
        // No part of the arrival stays behind, and the pipe is left empty.
        dropPipe();
        return finish(fd, false);
    }
    const Result closed = finish(fd, true);
    if (closed == Result::Ok)
        count_ += got;
    else
        dropPipe();
    return closed;
}

bool FileSink::drainPipeInto(int fd, qint64 n)
{
    loff_t at = count_;
    while (n > 0) {
        const ssize_t put = again(
            [&] { return ::splice(pipe_[0], nullptr, fd, &at, size_t(n), SPLICE_F_MOVE); });
        if (put > 0) {
            n -= put;
            continue;
        }
        if (put == 0 || (errno != EINVAL && errno != ENOSYS))
            return false;
        // A file system that takes no spliced bytes takes written ones.
        char bytes[64 * 1024];
        while (n > 0) {
            const ssize_t taken = again(
                [&] { return ::read(pipe_[0], bytes, size_t(qMin<qint64>(n, sizeof bytes))); });
            if (taken <= 0)
                return false;
            for (ssize_t done = 0; done < taken;) {
                const ssize_t put = again(
                    [&] { return ::pwrite(fd, bytes + done, size_t(taken - done), at + done); });
                if (put <= 0)
                    return false;
                done += put;
            }
            at += taken;
            n -= taken;
        }
    }
    return true;
}

void FileSink::dropPipe()
{
    for (int &fd : pipe_) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

#else

FileSink::Result FileSink::splice(int, qint64, qint64 &fromConnection)
{
    fromConnection = -2;
    return Result::Failed;
}

bool FileSink::drainPipeInto(int, qint64)
{
    return false;
}

void FileSink::dropPipe() {}

#endif
