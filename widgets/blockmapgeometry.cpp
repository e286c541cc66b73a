#include "widgets/blockmapgeometry.h"

namespace BlockMap {

QPoint blockCentre(qint64 k)
{
    const qint64 row = (k - 1) / BlocksPerRow;
    const qint64 column = k - BlocksPerRow * row;
    return QPoint(int(120 * column), int(100 + 120 * row));
}

qint64 blocksOf(qint64 length)
{
    return length > 0 ? length / BlockBytes : 0;
}

qint64 lastVisibleBlock(int heightPx)
{
    // A row is seen while the top of its circles (100 + 120 r - 50) lies
    // above the panel's lower edge, measured in whole pixels.
    const int panelHeight = heightPx * TwipsPerPixel;
    constexpr int firstTop = 100 - RadiusTwips;
    const int visibleRows = qMax(0, panelHeight - firstTop + 119) / 120;
    return qint64(visibleRows) * BlocksPerRow;
}

bool scaled(qint64 length, int heightPx)
{
    return blocksOf(length) > lastVisibleBlock(heightPx);
}

qint64 circleCount(qint64 length, int heightPx)
{
    return scaled(length, heightPx) ? lastVisibleBlock(heightPx) : blocksOf(length);
}

qint64 circleOf(qint64 at, qint64 length, int heightPx)
{
    return scaled(length, heightPx) ? at * lastVisibleBlock(heightPx) / length + 1
                                    : at / BlockBytes + 1;
}

QPair<qint64, qint64> shareOf(qint64 k, qint64 length, int heightPx)
{
    if (!scaled(length, heightPx))
        return {(k - 1) * BlockBytes, k * BlockBytes};
    const qint64 n = lastVisibleBlock(heightPx);
    return {(k - 1) * length / n, k * length / n};
}

qint64 circlesWithin(qint64 count, qint64 length, int heightPx)
{
    return scaled(length, heightPx) ? qMax<qint64>(0, count) * lastVisibleBlock(heightPx) / length
                                    : blocksOf(count);
}

}  // namespace BlockMap
