#pragma once
// What a download session needs from its window. The main window implements
// it; engine tests use a plain fake, so the engine never touches a widget.
#include "tasks/taskrecord.h"

#include <QString>

// The engine links Qt Core and Network only; QRgb is Qt Gui's plain
// 0xAARRGGBB number, declared the same way so both headers may meet.
typedef unsigned int QRgb;

class DownHost {
public:
    virtual ~DownHost() = default;

    // DownTask(row): the record of task row `row` (1-based).
    virtual TaskRecord &task(int row) = 0;
    // The row's state key: "ok", "stop", "start", "error" or "delete".
    virtual void setRowState(int row, const QString &key) = 0;
    // Column 1 "大小", 2 "已下载大小", 3 "时间" of task row `row`.
    virtual void setRowText(int row, int column, const QString &text) = 0;
    // Appends `line` and CR LF to the connection log.
    virtual void appendLog(const QString &line) = 0;
    // Counts an arrival of mNum body bytes into the task's GotSize and its
    // "已下载大小" column (mNum > 0 only) and draws the block map of `index`.
    virtual void DrawDownPic(int index, qint64 mNum, qint64 mFlen, qint64 ReceiveBytes) = 0;
    // One activity dot on the drop window, in its twips.
    virtual void drawMinFormDot(int xTwips, int yTwips, int radiusTwips, QRgb fill) = 0;
    virtual void setClipboardText(const QString &text) = 0;
    // A monotonic clock in milliseconds: never jumps at midnight.
    virtual qint64 monotonicMs() = 0;
};
