#pragma once
// The windows are laid out in twips, 15 to a pixel; every place and size on
// screen is a twips value turned into whole pixels here.
#include <QRect>
#include <QString>

constexpr int TwipsPerPixel = 15;

constexpr int pixelsFromTwips(int twips)
{
    return (twips + TwipsPerPixel / 2) / TwipsPerPixel;
}

constexpr QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(pixelsFromTwips(left), pixelsFromTwips(top), pixelsFromTwips(width),
                 pixelsFromTwips(height));
}

// Names a new control as users and tools find it and puts it in its place.
template <class Widget>
Widget *place(Widget *widget, const char *name, const QRect &geometry)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}
