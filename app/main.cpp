#include "window/frmdown.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zipvane"));
    // The desktop entry's name lets the desktop match the window to its menu entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("zipvane"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/zipvane.png")));
    frmDown w;
    w.show();
    return app.exec();
}
