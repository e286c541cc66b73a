#include "engine/transfer.h"

#include "engine/servername.h"
#include "tasks/gbktext.h"

Transfer::Transfer(const Start &start, const std::atomic<bool> &cancel)
    : cancel_(cancel), plan_(start.plan), sink_(start.mFile, start.plan.count()),
      mFlen_(start.plan.size()), mSizeOpen_(start.plan.sizeOpen()), mFile_(start.mFile),
      nameFromServer_(start.nameFromServer), otherTasksPaths_(start.otherTasksPaths)
{
    if (start.plan.pieceLast() >= 0) {
        sink_.allowHoles();
        pieceEnd_ = start.plan.pieceLast() + 1;
    }
}

void Transfer::setPieceEnd(qint64 end)
{
    pieceEnd_ = end;
    sink_.allowHoles();
    afterBody(0);
}

Transfer::~Transfer() = default;

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
        const qsizetype before = header_.header().size();
        const qsizetype bodyStart = header_.feed(arrival);
        // The window puts it on the clipboard, as it stands after this
        // arrival: the header's bytes only, never a byte of the body.
        ReceiveData_ += GbkText::decode(QByteArrayView(header_.header()).sliced(before));
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
            if (code >= 400 && code < 500 && code != 408 && code != 429)
                return SaveResult::Refused;
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
            if (!mSizeOpen_ || !range || range->first >= 0 || range->total != sink_.count())
                return SaveResult::Error;
            Flen = mFlen_ = range->total;
            mSizeOpen_ = false;
            bodyDone_ = true;
            return result;
        }
        if (const SaveResult refused = takeHeader(Flen); refused != SaveResult::Nothing)
            return refused;
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
    // Past the piece's end the bytes are another connection's to write.
    if (pieceEnd_ >= 0)
        body = body.first(qBound<qint64>(0, pieceEnd_ - sink_.count(), body.size()));
    if (const SaveResult written = writeBody(body); written != SaveResult::Nothing)
        return written;
    afterBody(body.size());
    if (chunked_ && chunks_.finished() && !bodyDone_) {
        bodyDone_ = true;
        // The last chunk tells the length a chunked answer never declared.
        if (mFlen_ == 0 && sink_.count() > 0)
            Flen = mFlen_ = sink_.count();
    }
    return result;
}

SaveResult Transfer::takeHeader(qint64 &Flen)
{
    const QByteArray &header = header_.header();
    const RequestPlan::Verdict verdict = plan_.judge(status_, header);
    switch (verdict.outcome) {
    case RequestPlan::Outcome::Take:
        break;
    case RequestPlan::Outcome::Changed:
        return SaveResult::Changed;
    case RequestPlan::Outcome::Malformed:
        return SaveResult::Error;
    }
    if (verdict.size) {
        mFlen_ = *verdict.size;
        mSizeOpen_ = false;
        if (mFlen_ > 0)
            Flen = mFlen_;
    }
    // Nothing of ours is on disk yet: the file may still take the server's name.
    if (nameFromServer_ && !sink_.holdsBytes()) {
        renamed_ = claimServerName(header, mFile_, otherTasksPaths_);
        if (renamed_) {
            sink_.moveTo(*renamed_);
            mFile_ = *renamed_;
        }
    }
    chunked_ = Response::isChunked(header);
    if (!chunked_)
        bodyLeft_ = verdict.declared;
    // A full answer where bytes are already on disk (the server ignored our
    // Range, or the file changed, or an old file sits under the chosen name)
    // starts over: appending would put the file's beginning after old bytes.
    // So does a count the file cannot have (see RequestPlan). The map and the
    // size column follow with the first body byte, drawn from a count of 0.
    startOver_ = plan_.startsOver() || (status_ == Response::Status::Ok200 && sink_.holdsBytes());
    answerValidator_ = verdict.validator;
    fileValidator_ = verdict.validator.value_or(plan_.validator());
    // The validator is kept once the file holds this answer's bytes, never
    // with bytes of an older version still there.
    if (!startOver_)
        validator_ = std::exchange(answerValidator_, std::nullopt);
    return SaveResult::Nothing;
}

SaveResult Transfer::writeBody(QByteArrayView body)
{
    // An arrival without body bytes starts nothing over: a server that says
    // 200 and sends nothing leaves what is on disk as it is.
    const bool startsOver = firstWrite_ && !body.isEmpty() && startOver_;
    // Nothing goes past the size: an arrival that would cross it is not of
    // our file, and none of its bytes are.
    const qint64 limit = sizeLimit();
    if (limit >= 0 && !body.isEmpty() && body.size() > limit - (startsOver ? 0 : sink_.count()))
        return SaveResult::Changed;
    if (!body.isEmpty())
        firstWrite_ = false;
    if (startsOver) {
        if (sink_.startOver() != FileSink::Result::Ok)
            return SaveResult::WriteFail;
        startedOver_ = true;
        validator_ = std::exchange(answerValidator_, std::nullopt);
    }
    switch (sink_.write(body)) {
    case FileSink::Result::Ok:
        return SaveResult::Nothing;
    case FileSink::Result::Failed:
        return SaveResult::WriteFail;
    case FileSink::Result::LocalChanged:
        return SaveResult::LocalChanged;
    }
    return SaveResult::WriteFail;
}

void Transfer::afterBody(qint64 n)
{
    // The body ends with its declared length, and at the latest at the size.
    if (bodyLeft_ >= 0)
        bodyLeft_ -= n;
    const qint64 limit = sizeLimit();
    if (bodyLeft_ == 0 || (limit >= 0 && sink_.count() >= limit)
        || (pieceEnd_ >= 0 && sink_.count() >= pieceEnd_))
        bodyDone_ = true;
}

bool Transfer::canSplice() const
{
#ifdef Q_OS_LINUX
    // ZV_NO_SPLICE=1 keeps every arrival on the read and write road, so the
    // bench can weigh the two on the same machine.
    static const bool off = qEnvironmentVariableIsSet("ZV_NO_SPLICE");
    return !off && bHeaderDone_ && !firstWrite_ && !chunked_ && bodyLeft_ > 0 && !bodyDone_;
#else
    return false;
#endif
}

SaveResult Transfer::spliceBody(int socketFd, qint64 most, qint64 &fromConnection)
{
    startedOver_ = false;
    fromConnection = -2;
    if (cancel_.load() || !canSplice())
        return SaveResult::Nothing;
    // Nothing past the declared length, nor past the size, leaves the connection.
    const qint64 limit = sizeLimit();
    qint64 left = limit >= 0 ? qMin(bodyLeft_, limit - sink_.count()) : bodyLeft_;
    if (pieceEnd_ >= 0)
        left = qMin(left, pieceEnd_ - sink_.count());
    switch (sink_.splice(socketFd, qMin(most, left), fromConnection)) {
    case FileSink::Result::Ok:
        break;
    case FileSink::Result::Failed:
        return SaveResult::WriteFail;
    case FileSink::Result::LocalChanged:
        return SaveResult::LocalChanged;
    }
    if (fromConnection > 0)
        afterBody(fromConnection);
    return SaveResult::Nothing;
}
