// The block map of a task (DrawDownPic) and the choice of the panel shown
// (PicVisible), as methods of the main window that owns the panels.
#include "widgets/blockmapgeometry.h"
#include "widgets/blockmappanel.h"
#include "window/frmdown.h"

#include <algorithm>

void frmDown::DrawDownPic(int Index, qint64 mNum, qint64 mFlen, qint64 ReceiveBytes)
{
    if (Index < 0 || Index >= int(ui_.Pic.size()))
        return;

    if (mNum > 0) {
        // The arrival is already counted into its task; show the count.
        const int row = engine().Down(Index)->WhichDown;
        if (row >= 1 && row <= rowCount())
            showGotSize(row, QString::number(ReceiveBytes + mNum));
    }

    BlockMapPanel *panel = ui_.Pic[Index];
    const int high = panel->image().height();
    if (BlockMap::scaled(mFlen, high)) {
        // Drawn whole: the circles whose share is on disk are filled.
        if (mNum <= 0) {
            panel->Cls();
            panel->drawBlocks(1, BlockMap::circleCount(mFlen, high), false);
        }
        const qint64 from = mNum > 0 ? BlockMap::circlesWithin(ReceiveBytes, mFlen, high) : 0;
        const qint64 to
            = BlockMap::circlesWithin(ReceiveBytes + std::max<qint64>(mNum, 0), mFlen, high);
        panel->drawBlocks(from + 1, to, true);
        return;
    }
    // A full redraw starts from a clear panel.
    if (mNum <= 0)
        panel->Cls();
    const qint64 firstDone = mNum > 0 ? BlockMap::blocksOf(ReceiveBytes) : 0;
    const qint64 lastDone = BlockMap::blocksOf(ReceiveBytes + std::max<qint64>(mNum, 0));
    // The grid, except where a filled circle goes just below: that circle
    // has the same shape and covers the white one pixel for pixel.
    if (mNum <= 0 || ReceiveBytes == 0)
        panel->drawBlocks(std::max(firstDone, lastDone) + 1, BlockMap::blocksOf(mFlen), false);
    panel->drawBlocks(firstDone + 1, lastDone, true);
}

void frmDown::drawPieces(int index, const PieceMap &map, const QList<PieceMap::Range> &added)
{
    if (index < 0 || index >= int(ui_.Pic.size()))
        return;
    const int row = index > 0 ? engine().Down(index)->WhichDown : 0;
    if (row >= 1 && row <= rowCount())
        showGotSize(row, QString::number(DownTask(row).GotSize));
    BlockMapPanel *panel = ui_.Pic[index];
    const qint64 size = map.size();
    const int high = panel->image().height();
    const qint64 count = BlockMap::circleCount(size, high);
    if (added.isEmpty()) {
        panel->Cls();
        panel->drawBlocks(1, count, false);
    }
    // The circles each range touches, filled where all their bytes are on
    // disk, in runs.
    for (const PieceMap::Range &range : added.isEmpty() ? map.ranges() : added) {
        const qint64 last = std::min(count, BlockMap::circleOf(range.second - 1, size, high));
        qint64 run = 0;
        for (qint64 k = BlockMap::circleOf(range.first, size, high); k <= last + 1; ++k) {
            const auto share = BlockMap::shareOf(k, size, high);
            const bool filled = k <= last && map.covers(share.first, share.second);
            if (filled && run == 0)
                run = k;
            if (!filled && run > 0) {
                panel->drawBlocks(run, k - 1, true);
                run = 0;
            }
        }
    }
}

void frmDown::PicVisible(int Index)
{
    for (BlockMapPanel *panel : ui_.Pic)
        panel->hide();
    if (Index >= 0 && Index < int(ui_.Pic.size()))
        ui_.Pic[Index]->show();
}

void frmDown::redrawPic(int Index)
{
    if (Index == 0) {
        if (SelRow < 1 || SelRow > rowCount())
            return;
        // A file written in pieces shows them where they are.
        const TaskRecord &r = DownTask(SelRow);
        const PiecesOnDisk disk = r.FileSize > 0 && !r.SizeOpen
                                      ? PieceMap::onDisk(r.FilePath, r.FileSize)
                                      : PiecesOnDisk();
        if (disk.map)
            drawPieces(0, *disk.map, {});
        else
            DrawDownPic(0, 0, r.FileSize, r.GotSize);
    } else if (engine().DownRow[Index] > 0) {
        const auto session = engine().Down(Index);
        if (session->pieces)
            drawPieces(Index, *session->pieces, {});
        else
            DrawDownPic(Index, 0, session->mFlen, session->ReceiveBytes);
    }
}
