#pragma once
// The byte path of one answer: its header read as it arrives, its body
// decoded and appended to the local file, and the count of bytes on disk.
// It runs on its slot's thread and knows nothing of the window: what the
// window must learn comes out of each call as results and figures.
#include "engine/filesink.h"
#include "engine/requestplan.h"
#include "engine/response.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>
#include <optional>
#include <utility>

// What one arrival meant: the status its header showed, or how it failed.
// Changed: the server now has another file than the one we have the start
// of, or sends more than the file's size. LocalChanged: the local file is no
// longer as long as the count.
// Redirect: the answer points elsewhere (location() says where).
enum class SaveResult {
    Nothing,
    Ok200,
    Partial206,
    NotFound404,
    Error,
    Refused,  // a 4xx that no retry will change (not 404, 408 or 429)
    Cancel,
    WriteFail,
    Changed,
    LocalChanged,
    Redirect
};

class Transfer {
public:
    // The request as it went out (the bytes already in `mFile`, the length
    // known, the range and validator asked with) and the file. `cancel`, set
    // from another thread, stops every write.
    // `nameFromServer`: the file was named after the URL without asking, so
    // the server's own name for it (Content-Disposition) may still replace
    // that name before the first byte; `otherTasksPaths` are taken.
    struct Start {
        RequestPlan plan;
        QString mFile;
        bool nameFromServer = false;
        QStringList otherTasksPaths;
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
    // Takes what the plain connection `socketFd` holds of the body, at most
    // `most` bytes, as SaveData takes an arrival. `fromConnection` receives what splice(2)
    // gave from the connection: the bytes moved, 0 at its end, -1 with
    // errno (EAGAIN: nothing waiting), or -2 when nothing was taken (a stop,
    // or the file refused them).
    SaveResult spliceBody(int socketFd, qint64 most, qint64 &fromConnection);

    qint64 ReceiveBytes() const { return sink_.count(); }

    // Several connections write the file: this answer's bytes end at `end`
    // (another connection's piece starts there), and the file may hold
    // holes. Reaching the end ends the body. A request for a piece (a Range
    // with a last byte) is written this way from the start.
    void setPieceEnd(qint64 end);
    qint64 pieceEnd() const { return pieceEnd_; }
    void allowHoles() { sink_.allowHoles(); }
    // The header said the answer is of the whole file or the part asked
    // for, and the file's bytes are flowing: other connections may join.
    bool flowing() const { return bHeaderDone_ && !firstWrite_; }
    Response::Status status() const { return status_; }
    const RequestPlan &plan() const { return plan_; }
    // What names the file these bytes are of: the answer's validator, else
    // the one asked with; empty when nothing does.
    const QString &fileValidator() const { return fileValidator_; }
    // The first byte the request asked for.
    qint64 askedFrom() const { return plan_.from(); }
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
    // The validator that now names the file on disk, once: the answer's, as
    // soon as the file holds (or starts to hold) that answer's bytes.
    std::optional<QString> takeValidator() { return std::exchange(validator_, std::nullopt); }
    // The path the file moved to under the server's name, once.
    // The file written: the one asked for, or the server's name for it.
    const QString &filePath() const { return mFile_; }
    std::optional<QString> takeRenamed() { return std::exchange(renamed_, std::nullopt); }

private:
    // The header has ended: what it means for the request, and the body's frame.
    SaveResult takeHeader(qint64 &Flen);
    SaveResult writeBody(QByteArrayView body);
    // The size the file may not grow past; -1 while there is none.
    qint64 sizeLimit() const { return mFlen_ > 0 && !mSizeOpen_ ? mFlen_ : -1; }
    void afterBody(qint64 n);

    const std::atomic<bool> &cancel_;
    const RequestPlan plan_;
    FileSink sink_;
    qint64 mFlen_;
    bool mSizeOpen_;
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
    bool startOver_ = false;                  // the file starts over with the first body byte
    std::optional<QString> answerValidator_;  // kept once the file holds the answer
    std::optional<QString> validator_;        // ready to be reported
    QString mFile_;
    bool nameFromServer_;
    QStringList otherTasksPaths_;
    std::optional<QString> renamed_;  // ready to be reported
    Response::Status status_ = Response::Status::Unknown;
    qint64 pieceEnd_ = -1;  // -1: the answer runs to its own end
    QString fileValidator_;
};
