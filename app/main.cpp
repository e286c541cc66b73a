#include "app/frmdown.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zipvane"));
    frmDown w;
    w.show();
    return app.exec();
}
