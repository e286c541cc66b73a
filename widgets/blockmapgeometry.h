#pragma once
// Where the circles of a block map go. One circle stands for 4096 bytes of
// the file, 50 to a row; everything is measured in twips from the panel's
// top left corner (15 twips to a pixel).
#include "widgets/twips.h"

#include <QPair>
#include <QPoint>
#include <QtGlobal>

namespace BlockMap {

constexpr qint64 BlockBytes = 4096;
constexpr int BlocksPerRow = 50;
constexpr int RadiusTwips = 50;

// The panel as laid out on its tab.
constexpr int PanelWidthTwips = 6192;
constexpr int PanelHeightTwips = 3372;

constexpr int PanelWidthPx = pixelsFromTwips(PanelWidthTwips);    // 413
constexpr int PanelHeightPx = pixelsFromTwips(PanelHeightTwips);  // 225

// Centre of block k (k >= 1).
QPoint blockCentre(qint64 k);

// The number of whole blocks in `length` bytes; a partial last block has no
// circle, and a negative or unknown length has none.
qint64 blocksOf(qint64 length);

// The last block whose circle reaches into a panel `heightPx` high at all.
// Later blocks lie wholly below its lower edge, so drawing them would change
// nothing.
qint64 lastVisibleBlock(int heightPx = PanelHeightPx);

// A file larger than a panel `heightPx` high shows at one circle per block
// is drawn whole: every circle the panel shows then stands for an equal
// share of it.
bool scaled(qint64 length, int heightPx = PanelHeightPx);
// The circles of a file of `length` bytes.
qint64 circleCount(qint64 length, int heightPx = PanelHeightPx);
// The circle byte `at` belongs to (1-based), and the bytes [first, end)
// circle k stands for.
qint64 circleOf(qint64 at, qint64 length, int heightPx = PanelHeightPx);
QPair<qint64, qint64> shareOf(qint64 k, qint64 length, int heightPx = PanelHeightPx);
// The circles whose bytes all lie below `count`.
qint64 circlesWithin(qint64 count, qint64 length, int heightPx = PanelHeightPx);

}  // namespace BlockMap
