#pragma once
// The one writer of a download's local file. Whatever road the bytes take
// (written from our memory, or moved by splice(2) from the connection inside
// the kernel), the file's length equals count() after every call: a write
// that fails or is cut short, a failed close included, is taken back whole.
// The file is opened for every arrival and closed after it, so no handle
// stays open between arrivals (another program may move or cut it).
#include <QByteArrayView>
#include <QString>

class FileSink {
public:
    enum class Result {
        Ok,
        Failed,        // the file refused the bytes; it is as long as the count
        LocalChanged,  // the file is no longer ours: gone, cut or grown
    };

    // `count`: the bytes of ours already in the file at `path`.
    FileSink(const QString &path, qint64 count);
    ~FileSink();
    FileSink(const FileSink &) = delete;
    FileSink &operator=(const FileSink &) = delete;

    qint64 count() const { return count_; }
    // From now on the file is written by several connections, each at its
    // own place: it may be longer than the count and hold holes, so its
    // length tells nothing, and a write that fails is not cut back (the cut
    // would take others' bytes with it; the piece map never claims those
    // bytes). The file must exist.
    void allowHoles() { holes_ = true; }
    // Bytes are on disk: ours (a count other than 0) or another file's.
    bool holdsBytes() const;
    // Empties the file (made when missing); the count becomes 0.
    Result startOver();
    // Names another file to write, before anything was written: the count
    // must be 0.
    void moveTo(const QString &path);
    // Appends `bytes` at the count. Nothing to append still makes the file
    // when it is missing (unless bytes of ours should be there).
    Result write(QByteArrayView bytes);
    // Moves at most `most` bytes waiting on the plain connection `socketFd`
    // into the file at the count. `fromConnection`: what the connection gave
    // (the bytes moved, 0 at its end, -1 with errno, EAGAIN meaning none
    // waiting), or -2 when nothing was taken because the file is not ours.
    Result splice(int socketFd, qint64 most, qint64 &fromConnection);

private:
    // Opens the file for the next write, after the checks every write makes.
    int open(Result &why, bool create) const;
    // Closes `fd`; when `ok` is false, or the close fails, cuts the file back
    // to the count first or after. Ok only when everything held.
    Result finish(int fd, bool ok) const;
    // Cut or grown by someone else since our last arrival: whatever we wrote
    // now would land at the wrong place. (With holes the length cannot tell.)
    bool lengthHolds(int fd) const;
    bool drainPipeInto(int fd, qint64 n);
    void dropPipe();

    QByteArray path_;  // in the file system's encoding
    qint64 count_;
    bool holes_ = false;
    int pipe_[2] = {-1, -1};  // between the connection and the file, once splicing
};
