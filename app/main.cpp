#include "window/frmdown.h"
#include "window/outsideurls.h"
#include "window/qttranslations.h"
#include "window/singleinstance.h"
#include "window/terminationsignals.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <algorithm>
#include <cstdio>

namespace {

// Control characters as %XX, so a refused URL cannot break the line or steer
// the terminal.
QString printable(const QString &url)
{
    QString shown;
    for (const QChar c : url) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            shown += QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        else
            shown += c;
    }
    return shown;
}

// One line on stderr for each URL that was not added; true when there was one.
bool reportRefusals(const QStringList &urls, const QList<UrlMessage::Outcome> &outcomes)
{
    bool refused = false;
    for (qsizetype k = 0; k < urls.size() && k < outcomes.size(); ++k) {
        if (outcomes[k] == UrlMessage::Outcome::Added)
            continue;
        std::fprintf(stderr, "zipvane: refused: %s: %s\n", qPrintable(printable(urls[k])),
                     qPrintable(outsideUrlRefusal(outcomes[k])));
        refused = true;
    }
    return refused;
}

}  // namespace

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
    QList<UrlMessage::Outcome> outcomes;
    switch (instance.claim(urls, outcomes)) {
    case SingleInstance::Claim::Owner:
        break;
    case SingleInstance::Claim::HandedOver:
        return reportRefusals(urls, outcomes) ? 1 : 0;
    case SingleInstance::Claim::Foreign:
        std::fprintf(stderr, "zipvane: the running program's socket belongs to another user; "
                             "nothing was sent\n");
        return 1;
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
    instance.setReceiver([&w](const QList<UrlMessage::Item> &arrived) {
        const QList<UrlMessage::Outcome> answer = w.addOutsideUrls(arrived);
        // A link from the browser downloads behind it; a save dialog shows itself.
        if (!std::all_of(arrived.begin(), arrived.end(),
                         [](const UrlMessage::Item &i) { return i.fromBrowser; }))
            w.bringToFront();
        return answer;
    });
    w.show();
    if (!instance.listenProblem().isEmpty())
        w.appendLog(QStringLiteral("无法接收从外部加入的网址：") + instance.listenProblem());
    reportRefusals(urls, w.addOutsideUrls(UrlMessage::itemsOf(urls)));
    return app.exec();
}
