#include "support/fakehost.h"

#include "engine/downengine.h"

int FakeHost::addTask(const QString &url, const QString &filePath, qint64 fileSize,
                      qint64 gotSize)
{
    TaskRecord &spare = tasks(tasks.upperBound());
    spare.Url = url;
    spare.FilePath = filePath;
    spare.FileSize = fileSize;
    spare.GotSize = gotSize;
    const int row = tasks.appendSpare();
    states[row] = QStringLiteral("stop");
    return row;
}

void FakeHost::setRowText(int row, int column, const QString &text)
{
    texts[{row, column}] = text;
}

void FakeHost::DrawDownPic(int index, qint64 mNum, qint64 mFlen, qint64 ReceiveBytes)
{
    draws.append({index, mNum, mFlen, ReceiveBytes});
    if (mNum <= 0 || !engine)
        return;
    const int row = engine->Down(index)->WhichDown;
    tasks(row).GotSize += mNum;
    setRowText(row, 2, QString::number(ReceiveBytes + mNum));
    if (afterArrival)
        afterArrival();
}

void FakeHost::drawMinFormDot(int xTwips, int yTwips, int radiusTwips, QRgb fill)
{
    dots.append({xTwips, yTwips, radiusTwips, fill});
}

void FakeHost::setClipboardText(const QString &text)
{
    clipboard = text;
    ++clipboardWrites;
}

qint64 FakeHost::monotonicMs()
{
    const qint64 now = clockMs;
    clockMs += clockStepMs;
    return now;
}
