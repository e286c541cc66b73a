#include "support/fakehost.h"

void FakeHost::DrawDownPic(int index, qint64 mNum, qint64, qint64 ReceiveBytes)
{
    if (mNum <= 0 || !engine)
        return;
    const int row = engine->Down(index)->WhichDown;
    tasks(row).GotSize += mNum;
    setRowText(row, 2, QString::number(ReceiveBytes + mNum));
    if (afterArrival)
        afterArrival();
}
