// Both slots downloading for ZV_SOAK_SECONDS (600 unless set) from a server
// that trickles, while the rows are clicked and the timer ticks: memory
// stays flat and every byte written is counted. Run by `make soak` only.
#include "window/frmdown.h"
#include "widgets/tasklistview.h"
#include "support/fakeseams.h"
#include "support/scriptedserver.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

} // namespace

class tst_Soak : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void bothSlotsTrickle()
    {
        const int seconds = qEnvironmentVariableIsSet("ZV_SOAK_SECONDS") ? qEnvironmentVariableIntValue("ZV_SOAK_SECONDS") : 600;
        // 1 KiB every 10 ms on each connection, for longer than the soak lasts.
        const QByteArray body = QByteArray(1024, 's').repeated((seconds + 60) * 100);
        ScriptedServer server;
        server.addScript(ScriptedServer::split("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body, 1024, 10));
        QTemporaryDir dir;
        const auto fake = std::make_shared<FakeSeamsState>();
        Seams seams = fakeSeams(fake);
        seams.monotonicMs = Seams::real().monotonicMs;   // the elapsed time column moves
        frmDown w(seams, dir.path());
        w.show();
        for (int row = 1; row <= 2; ++row) {
            w.AddNewUrl(QStringLiteral("http://127.0.0.1:%1/f%2.bin").arg(server.port()).arg(row));
            fake->savePath = dir.filePath(QStringLiteral("f%1.bin").arg(row));
            w.LView->setCurrentItem(w.LView->topLevelItem(row - 1));
            w.LView_DblClick();
        }
        QVERIFY(!w.engine().slotFree(1) && !w.engine().slotFree(2));
        qint64 firstMinuteKiB = 0, peakKiB = 0;
        for (int second = 1; second <= seconds; ++second) {
            for (int click = 0; click < 10; ++click) {   // a click on a row every 100 ms
                w.LView->setCurrentItem(w.LView->topLevelItem(click % 2));
                QTest::qWait(100);
            }
            peakKiB = qMax(peakKiB, residentKiB());
            if (second == qMin(60, seconds))
                firstMinuteKiB = peakKiB;
            if (second % 60 == 0)
                qInfo("soak: %d s, resident %lld KiB, got %lld + %lld bytes", second, residentKiB(), w.DownTask(1).GotSize, w.DownTask(2).GotSize);
        }
        QVERIFY(!w.engine().slotFree(1) && !w.engine().slotFree(2));
        for (int row = 1; row <= 2; ++row)
            QCOMPARE(w.DownTask(row).GotSize, QFileInfo(dir.filePath(QStringLiteral("f%1.bin").arg(row))).size());
        qInfo("soak: resident after the first minute %lld KiB, peak %lld KiB", firstMinuteKiB, peakKiB);
        // Growth after the first minute would be a leak: allow 8 MiB of noise.
        QVERIFY(peakKiB - firstMinuteKiB < 8 * 1024);
    }
};

QTEST_MAIN(tst_Soak)
#include "tst_soak.moc"
