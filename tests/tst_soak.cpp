// Both slots of the window downloading for ZV_SOAK_SECONDS (600 unless set)
// from a server that trickles, while a row is clicked every 100 ms and the
// timer ticks: memory stays flat and every byte written is counted. Run by
// `make soak` only.
#include "support/fakeseams.h"
#include "support/scriptedserver.h"
#include "widgets/tasklistview.h"
#include "window/frmdown.h"

#include <QtTest>

static qint64 residentKiB()
{
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    const QByteArray text = status.readAll();
    return text.mid(text.indexOf("VmRSS:") + 6).trimmed().split(' ').value(0).toLongLong();
}

class tst_Soak : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void bothSlotsTrickle()
    {
        const int seconds = qEnvironmentVariable("ZV_SOAK_SECONDS", "600").toInt();
        // 1 KiB every 10 ms on each connection, for longer than the soak lasts.
        const QByteArray body = QByteArray(1024, 's').repeated((seconds + 60) * 100);
        ScriptedServer server;
        const QByteArray head
            = "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size());
        server.addScript(ScriptedServer::split(head + "\r\n\r\n" + body, 1024, 10));
        QTemporaryDir dir;
        const auto fake = std::make_shared<FakeSeamsState>();
        Seams seams = fakeSeams(fake);
        seams.monotonicMs = Seams::real().monotonicMs;  // the time column moves
        frmDown w(seams, dir.path());
        w.show();
        for (int row = 1; row <= 2; ++row) {
            w.AddNewUrl(QString("http://127.0.0.1:%1/f%2").arg(server.port()).arg(row));
            QVERIFY(w.engine().StartTask(row, row, dir.filePath(QString::number(row))));
        }
        qint64 firstMinuteKiB = 0;
        for (int tick = 1; tick <= seconds * 10; ++tick) {
            w.ui().LView->setCurrentItem(w.ui().LView->topLevelItem(tick % 2));
            QTest::qWait(100);
            if (tick == qMin(600, seconds * 10))
                firstMinuteKiB = residentKiB();
        }
        for (int row = 1; row <= 2; ++row)
            QCOMPARE(w.DownTask(row).GotSize,
                     QFileInfo(dir.filePath(QString::number(row))).size());
        QVERIFY(!w.engine().slotFree(1) && !w.engine().slotFree(2));
        qInfo("soak: resident %lld KiB after a minute, %lld KiB at the end", firstMinuteKiB,
              residentKiB());
        // Growth after the first minute would be a leak: allow 8 MiB of noise.
        QVERIFY(residentKiB() - firstMinuteKiB < 8 * 1024);
    }
};

QTEST_MAIN(tst_Soak)
#include "tst_soak.moc"
