#pragma once
// What a download session needs from its window. The main window implements
// it; engine tests use a plain fake, so the engine never touches a widget.
#include "tasks/taskrecord.h"

#include <QString>

class DownHost {
public:
    virtual ~DownHost() = default;

    // DownTask(row): the record of task row `row` (1-based).
    virtual TaskRecord &task(int row) = 0;
    // The row's state key: "ok", "stop", "start", "error" or "delete".
    virtual void setRowState(int row, const QString &key) = 0;
    // Column 1 "大小" or 3 "时间" of task row `row`.
    virtual void setRowText(int row, int column, const QString &text) = 0;
    // Appends `line` and CR LF to the connection log.
    virtual void appendLog(const QString &line) = 0;
    // Shows slot `index`'s progress: mNum body bytes have just been written
    // after ReceiveBytes others (the counts already hold them), or, with
    // mNum 0, the whole map of a start. Only draws: it counts nothing.
    virtual void DrawDownPic(int index, qint64 mNum, qint64 mFlen, qint64 ReceiveBytes) = 0;
    virtual void setClipboardText(const QString &text) = 0;
    // A monotonic clock in milliseconds: never jumps at midnight.
    virtual qint64 monotonicMs() = 0;
};
