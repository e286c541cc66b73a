#include "display/blockmappanel.h"

#include "display/blockmapgeometry.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

BlockMapPanel::BlockMapPanel(QWidget *parent)
    : QWidget(parent),
      image_(BlockMap::PanelWidthPx, BlockMap::PanelHeightPx, QImage::Format_RGB32)
{
    setFixedSize(image_.size());
    setAttribute(Qt::WA_OpaquePaintEvent);
    Cls();
}

QColor BlockMapPanel::background()
{
    return QColor(192, 192, 192);
}

void BlockMapPanel::Cls()
{
    image_.fill(background());
    update();
}

void BlockMapPanel::drawBlocks(qint64 first, qint64 last, bool received)
{
    first = std::max<qint64>(first, 1);
    last = std::min(last, BlockMap::lastVisibleBlock());
    if (first > last)
        return;
    paintBlocks(image_, first, last, received);
    update();
}

void BlockMapPanel::paintBlocks(QImage &image, qint64 first, qint64 last, bool received)
{
    if (first > last)
        return;
    QPainter painter(&image);
    // Coordinates are twips; a cosmetic pen keeps the outline one pixel wide.
    painter.scale(1.0 / BlockMap::TwipsPerPixel, 1.0 / BlockMap::TwipsPerPixel);
    QPen outline(received ? QColor(255, 0, 0) : QColor(0, 0, 0));
    outline.setWidth(0);
    painter.setPen(outline);
    painter.setBrush(received ? QColor(0, 0, 255) : QColor(255, 255, 255));
    const int r = BlockMap::RadiusTwips;
    for (qint64 k = std::max<qint64>(first, 1); k <= last; ++k)
        painter.drawEllipse(BlockMap::blockCentre(k), r, r);
}

void BlockMapPanel::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.drawImage(event->rect(), image_, event->rect());
}
