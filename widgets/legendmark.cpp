#include "widgets/legendmark.h"

#include <QPainter>

LegendMark::LegendMark(QWidget *parent) : QWidget(parent) {}

void LegendMark::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(QColor(255, 0, 0));
    painter.setBrush(QColor(0, 0, 255));
    painter.drawEllipse(rect().adjusted(0, 0, -1, -1));
}
