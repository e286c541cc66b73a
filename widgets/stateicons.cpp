#include "widgets/stateicons.h"

#include <QHash>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

constexpr int Size = 16;

// Complete: a green disc with a white tick.
void drawOk(QPainter &p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 150, 0));
    p.drawEllipse(QRectF(1, 1, 14, 14));
    p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({QPointF(4.5, 8), QPointF(7, 10.5), QPointF(11.5, 5)}));
}

// Waiting: an amber square with two pause bars.
void drawStop(QPainter &p)
{
    p.setPen(QColor(150, 95, 0));
    p.setBrush(QColor(240, 170, 0));
    p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 2, 2);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(5, 4, 2, 8));
    p.drawRect(QRectF(9, 4, 2, 8));
}

// Downloading: a blue arrow pointing down onto a bar.
void drawStart(QPainter &p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 80, 220));
    QPainterPath arrow;
    arrow.moveTo(6, 1);
    arrow.lineTo(10, 1);
    arrow.lineTo(10, 7);
    arrow.lineTo(14, 7);
    arrow.lineTo(8, 13);
    arrow.lineTo(2, 7);
    arrow.lineTo(6, 7);
    arrow.closeSubpath();
    p.drawPath(arrow);
    p.drawRect(QRectF(2, 14, 12, 2));
}

// No connection: a red disc with a white exclamation mark.
void drawError(QPainter &p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(210, 0, 0));
    p.drawEllipse(QRectF(1, 1, 14, 14));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(7, 3.5, 2, 6));
    p.drawRect(QRectF(7, 11, 2, 2));
}

// Marked for deletion: a dark grey cross.
void drawDelete(QPainter &p)
{
    p.setPen(QPen(QColor(80, 80, 80), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3, 3), QPointF(13, 13));
    p.drawLine(QPointF(13, 3), QPointF(3, 13));
}

// Queued: three grey lines, the first one short, a place in a line.
void drawQueue(QPainter &p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(90, 90, 140));
    p.drawRect(QRectF(6, 2, 8, 3));
    p.drawRect(QRectF(2, 7, 12, 3));
    p.drawRect(QRectF(2, 12, 12, 3));
}

// Waiting to retry: an amber clock face.
void drawRetry(QPainter &p)
{
    p.setPen(QPen(QColor(150, 95, 0), 1.5));
    p.setBrush(QColor(240, 170, 0));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 8), QPointF(8, 4));
    p.drawLine(QPointF(8, 8), QPointF(11, 10));
}

QIcon makeIcon(void (*draw)(QPainter &))
{
    QImage image(Size, Size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter);
    painter.end();
    return QIcon(QPixmap::fromImage(image));
}

}  // namespace

QIcon stateIcon(const QString &key)
{
    static QHash<QString, QIcon> icons;
    if (icons.isEmpty()) {
        icons.insert(QStringLiteral("ok"), makeIcon(drawOk));
        icons.insert(QStringLiteral("stop"), makeIcon(drawStop));
        icons.insert(QStringLiteral("start"), makeIcon(drawStart));
        icons.insert(QStringLiteral("error"), makeIcon(drawError));
        icons.insert(QStringLiteral("delete"), makeIcon(drawDelete));
        icons.insert(QStringLiteral("queue"), makeIcon(drawQueue));
        icons.insert(QStringLiteral("retry"), makeIcon(drawRetry));
    }
    return icons.value(key);
}
