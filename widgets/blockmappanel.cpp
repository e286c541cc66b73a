#include "widgets/blockmappanel.h"

#include "widgets/blockmapgeometry.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>
#include <utility>

BlockMapPanel::BlockMapPanel(QWidget *parent)
    : QWidget(parent),
      image_(BlockMap::PanelWidthPx, BlockMap::PanelHeightPx, QImage::Format_RGB32)
{
    setMinimumSize(image_.size());
    resize(image_.size());
    setAttribute(Qt::WA_OpaquePaintEvent);
    Cls();
}

QColor BlockMapPanel::background()
{
    return QColor(192, 192, 192);
}

void BlockMapPanel::Cls()
{
    fitImage();
    needsRedraw_ = false;  // what follows draws it whole
    image_.fill(background());
    update();
}

void BlockMapPanel::drawBlocks(qint64 first, qint64 last, bool received)
{
    fitImage();
    first = std::max<qint64>(first, 1);
    last = std::min(last, BlockMap::lastVisibleBlock(image_.height()));
    if (first > last)
        return;
    paintBlocks(image_, first, last, received);
    update();
}

namespace {

// Draws the circles of blocks first..last with QPainter's ellipse, in twips.
void drawCircles(QImage &image, qint64 first, qint64 last, bool received)
{
    QPainter painter(&image);
    // Coordinates are twips; a cosmetic pen keeps the outline one pixel wide.
    painter.scale(1.0 / TwipsPerPixel, 1.0 / TwipsPerPixel);
    QPen outline(received ? QColor(255, 0, 0) : QColor(0, 0, 0));
    outline.setWidth(0);
    painter.setPen(outline);
    painter.setBrush(received ? QColor(0, 0, 255) : QColor(255, 255, 255));
    const int r = BlockMap::RadiusTwips;
    for (qint64 k = first; k <= last; ++k)
        painter.drawEllipse(BlockMap::blockCentre(k), r, r);
}

// Block 1's circle on a transparent image. Every other circle lies a whole
// number of pixels from it (8 to a column and to a row), and nothing is
// smoothed, so putting this image at a block's place gives exactly the pixels
// drawing that block's ellipse gives, at a small part of the cost.
constexpr int StepPx = 120 / TwipsPerPixel;
constexpr int SpritePx = 2 * StepPx;

const QImage &circleOfBlockOne(bool received)
{
    static const QImage circles[2] = {
        [] {
            QImage image(SpritePx, SpritePx, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            drawCircles(image, 1, 1, false);
            return image;
        }(),
        [] {
            QImage image(SpritePx, SpritePx, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            drawCircles(image, 1, 1, true);
            return image;
        }(),
    };
    return circles[received ? 1 : 0];
}

}  // namespace

void BlockMapPanel::paintBlocks(QImage &image, qint64 first, qint64 last, bool received)
{
    first = std::max<qint64>(first, 1);
    if (first > last)
        return;
    static_assert(120 % TwipsPerPixel == 0, "circles lie whole pixels apart");
    const QImage &circle = circleOfBlockOne(received);
    QPainter painter(&image);
    for (qint64 k = first; k <= last; ++k) {
        const qint64 row = (k - 1) / BlockMap::BlocksPerRow;
        const qint64 column = k - 1 - row * BlockMap::BlocksPerRow;
        painter.drawImage(QPoint(int(column * StepPx), int(row * StepPx)), circle);
    }
}

void BlockMapPanel::resizeEvent(QResizeEvent *)
{
    fitImage();
    if (std::exchange(needsRedraw_, false))
        Q_EMIT grown();
}

void BlockMapPanel::fitImage()
{
    // A hidden panel learns its new size before its resize event: it comes
    // when the panel is shown.
    const QSize size = this->size().expandedTo(minimumSize());
    if (size == image_.size())
        return;
    needsRedraw_
        = needsRedraw_ || size.height() > image_.height() || size.width() > image_.width();
    QImage resized(size, image_.format());
    resized.fill(background());
    QPainter(&resized).drawImage(0, 0, image_);
    image_ = std::move(resized);
}

void BlockMapPanel::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.drawImage(event->rect(), image_, event->rect());
}
