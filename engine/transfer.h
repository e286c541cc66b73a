#pragma once
// The byte path of one answer: its header read as it arrives, its body
// decoded and appended to the local file, and the count of bytes on disk.
// It runs on its slot's thread and knows nothing of the window: what the
// window must learn comes out of each call as results and figures.
#include "engine/response.h"

#include <QByteArray>
#include <QString>
#include <atomic>

class QFile;

// What one arrival meant: the status its header showed, or how it failed.
// Changed: the server now has another file than the one we have the start
// of. LocalChanged: the local file is no longer as long as the count.
// Redirect: the answer points elsewhere (location() says where).
enum class SaveResult {
    Nothing,
    Ok200,
    Partial206,
    NotFound404,
    Error,
    Cancel,
    WriteFail,
    Changed,
    LocalChanged,
    Redirect
};

class Transfer {
public:
    // Where the request left the session: the bytes already in `mFile`, the
    // length (0 unknown; a lower bound while `mSizeOpen`), whether a Range
    // went out. `cancel`, set from another thread, stops every write.
    struct Start {
        qint64 ReceiveBytes = 0;
        qint64 mFlen = 0;
        bool mSizeOpen = false;
        bool rangeSent = false;
        QString mFile;
    };
    Transfer(const Start &start, const std::atomic<bool> &cancel);
    ~Transfer();
    Transfer(const Transfer &) = delete;
    Transfer &operator=(const Transfer &) = delete;

    // Takes one arrival: the header, then the body written to the file and
    // counted. Flen receives a length read in this call.
    SaveResult SaveData(qint64 ByteNum, const QByteArray &ByteData, qint64 &Flen);

    // The rest of the body is plain bytes of a known length and the file is
    // under way: from here on the connection's bytes can go to the file
    // inside the kernel (spliceBody), never through our memory.
    bool canSplice() const;
    // Takes what the plain connection `socketFd` holds of the body, as
    // SaveData takes an arrival. `fromConnection` receives what splice(2)
    // gave from the connection: the bytes moved, 0 at its end, -1 with
    // errno (EAGAIN: nothing waiting), or -2 when nothing was taken (a stop,
    // or the file refused them).
    SaveResult spliceBody(int socketFd, qint64 &fromConnection);

    qint64 ReceiveBytes() const { return ReceiveBytes_; }
    qint64 mFlen() const { return mFlen_; }
    bool mSizeOpen() const { return mSizeOpen_; }
    // The header has not ended yet: ReceiveData() is all of the answer so far.
    bool inHeader() const { return !bHeaderDone_; }
    const QString &ReceiveData() const { return ReceiveData_; }
    // The file was found holding other bytes and started over from 0 during
    // the last call.
    bool startedOver() const { return startedOver_; }
    bool bodyDone() const { return bodyDone_; }
    bool serverBusy() const { return serverBusy_; }
    qint64 retryAfterSeconds() const { return retryAfter_; }
    QByteArray location() const;

private:
    enum class Written { Ok, Failed, LocalChanged };
    // Checks a resumed answer against what we have; Nothing when it fits.
    SaveResult checkResumption(const QByteArray &header, qint64 &Flen);
    Written writeBody(const char *data, qint64 n);
    // Opens the file for the next write; the checks every write makes first.
    Written openFile(QFile &file) const;
    // Moves `n` bytes from the pipe into the open file `fd` at the count.
    bool drainPipeInto(int fd, qint64 n);

    const std::atomic<bool> &cancel_;
    QString mFile_;
    qint64 ReceiveBytes_;
    qint64 mFlen_;
    bool mSizeOpen_;
    bool rangeSent_;
    QString ReceiveData_;
    bool bHeaderDone_ = false;
    bool startedOver_ = false;
    qint64 bodyLeft_ = -1;  // bytes the answer still declares; -1 = unknown
    bool bodyDone_ = false;
    bool serverBusy_ = false;
    qint64 retryAfter_ = -1;
    HeaderScanner header_;
    bool chunked_ = false;
    ChunkedDecoder chunks_;
    bool firstWrite_ = true;
    Response::Status status_ = Response::Status::Unknown;
    int pipe_[2] = {-1, -1};  // between the connection and the file, once splicing
};
