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
        if (SelRow >= 1 && SelRow <= rowCount())
            DrawDownPic(0, 0, DownTask(SelRow).FileSize, DownTask(SelRow).GotSize);
    } else if (engine().DownRow[Index] > 0) {
        const auto session = engine().Down(Index);
        DrawDownPic(Index, 0, session->mFlen, session->ReceiveBytes);
    }
}
