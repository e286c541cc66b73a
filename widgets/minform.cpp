#include "widgets/minform.h"

#include "widgets/droptext.h"
#include "widgets/twips.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace {

constexpr int ClientWidth = 1245 / TwipsPerPixel;                             // 83
constexpr int ClientHeight = 480 / TwipsPerPixel;                             // 32
constexpr QPoint StartPosition(12045 / TwipsPerPixel, 1590 / TwipsPerPixel);  // 803, 106

QColor background()
{
    return QColor(0, 0, 192);
}

}  // namespace

MinForm::MinForm(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint
                          | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      image_(ClientWidth, ClientHeight, QImage::Format_RGB32)
{
    setObjectName(QStringLiteral("MinForm"));
    setWindowTitle(QStringLiteral("Zipvane"));
    // The figures show on hover: this window is hardly ever the active one.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setFixedSize(ClientWidth, ClientHeight);
    move(StartPosition);
    // Closing the drop window only hides it: the main window brings it back.
    setAttribute(Qt::WA_QuitOnClose, false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(new TextDrops(this), &TextDrops::textDropped, this, &MinForm::textDropped);

    QPalette pal = palette();
    pal.setColor(QPalette::Window, background());
    setPalette(pal);
    image_.fill(background());
}

void MinForm::drawCircle(int xTwips, int yTwips, int radiusTwips, QRgb fill)
{
    QPainter painter(&image_);
    painter.scale(1.0 / TwipsPerPixel, 1.0 / TwipsPerPixel);
    QPen outline(Qt::black);
    outline.setWidth(0);
    painter.setPen(outline);
    painter.setBrush(QColor(fill));
    painter.drawEllipse(QPoint(xTwips, yTwips), radiusTwips, radiusTwips);
    painter.end();
    update();
}

void MinForm::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.drawImage(event->rect(), image_, event->rect());
}

void MinForm::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
    Q_EMIT dblClick();
}
