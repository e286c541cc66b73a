#pragma once
// What the engine needs of its window beyond the task model: the log, the
// block map, the clipboard and the clock. The main window implements it;
// engine tests use a plain fake, so the engine never touches a widget.
#include "tasks/piecemap.h"

#include <QString>

class DownHost {
public:
    virtual ~DownHost() = default;

    // Appends `line` and CR LF to the connection log.
    virtual void appendLog(const QString &line) = 0;
    // Shows slot `index`'s progress: mNum body bytes have just been written
    // after ReceiveBytes others (the counts already hold them), or, with
    // mNum 0, the whole map of a start. Only draws: it counts nothing.
    virtual void DrawDownPic(int index, qint64 mNum, qint64 mFlen, qint64 ReceiveBytes) = 0;
    // Shows slot `index`'s map of a file written in pieces: the circles
    // `added` touches, filled where `map` holds all their bytes; with
    // `added` empty, the whole map afresh. Only draws.
    virtual void drawPieces(int /*index*/, const PieceMap & /*map*/,
                            const QList<PieceMap::Range> & /*added*/)
    {}
    virtual void setClipboardText(const QString &text) = 0;
    // A monotonic clock in milliseconds: never jumps at midnight.
    virtual qint64 monotonicMs() = 0;
};
