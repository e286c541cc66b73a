#include "window/frmdown.h"
#include "window/qttranslations.h"
#include "window/singleinstance.h"
#include "window/terminationsignals.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zipvane"));
    // The desktop entry's name lets the desktop match the window to its menu entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("zipvane"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/zipvane.png")));
    loadChineseQtTranslations(app);

    // `zipvane URL…`, and what "Open with" passes.
    const QStringList urls = QCoreApplication::arguments().mid(1);
    const ListLocation where = frmDown::listLocation({});
    SingleInstance instance(where.path);
    switch (instance.claim(urls)) {
    case SingleInstance::Claim::Owner:
        break;
    case SingleInstance::Claim::HandedOver:
        return 0;
    case SingleInstance::Claim::TooLarge:
        std::fprintf(stderr, "zipvane: too many URLs to hand to the running program\n");
        return 2;
    case SingleInstance::Claim::NoAnswer:
        QMessageBox::warning(nullptr, QStringLiteral("Zipvane"),
                             QStringLiteral("另一个迅羽正在使用任务列表") + where.path
                                 + QStringLiteral("，但它没有应答。"));
        return 1;
    }

    Seams seams = Seams::real();
    seams.endProgram = [&instance, end = seams.endProgram] {
        instance.release();
        end();
    };
    frmDown w(seams);
    closeOnTerminationSignals(w);
    QObject::connect(&instance, &SingleInstance::urlsArrived, &w,
                     [&w](const QStringList &arrived) {
                         w.addOutsideUrls(arrived);
                         w.bringToFront();
                     });
    w.show();
    w.addOutsideUrls(urls);
    return app.exec();
}
