// A running download's figures from a known run of counts, and what keeps
// a download from hanging: a server gone silent is given up after a minute,
// and a session of known size that ends early is started again, on the
// engine's clock (no real waits).
#include "engine/progress.h"
#include "support/fakehost.h"
#include "support/scriptedserver.h"

class tst_Progress : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void figures()
    {
        ProgressMeter meter;  // 1000 bytes a second, then 3000: the last 5 s count
        for (qint64 t = 0, bytes = 0; t <= 10000; t += 1000, bytes += t <= 5000 ? 1000 : 3000)
            meter.sample(t, bytes);
        QCOMPARE(meter.speed(), 3000.0);
        QString shown;
        for (const double speed : {0.0, 999.0, 1000.0, 12345.0, 1048064.0, 3e9})
            shown += Figures::speed(speed) + '|';
        shown += Figures::percent(999, 1000) + Figures::percent(5, 0) + '|'
                 + Figures::timeLeft(0, 360000, 100) + Figures::timeLeft(1, 2, 0);
        QCOMPARE(shown,
                 "0.000 B/s|999 B/s|0.977 KB/s|12.1 KB/s|1.00 MB/s|2.79 GB/s|99.9%|01:00:00");
    }

    // Closed at half of 10000 bytes, a 429 asking for 900 s (past the cap:
    // the back-off's 10 s), a 503 asking for 7 s, silent for a minute after
    // 1000 more, then the rest: retries 5, 10, 7 and 5 s after each end (the
    // try that brought bytes counts the tries from the start again), none a
    // millisecond before.
    void stallsAndRetries()
    {
        const QByteArray file(10000, 'z'), part = "HTTP/1.1 206 P\r\nContent-Range: bytes ";
        ScriptedServer server;
        for (const QByteArray &answer :
             {"HTTP/1.1 200 OK\r\nContent-Length: 10000\r\n\r\n" + file.left(5000),
              QByteArray("HTTP/1.1 429 Too Many\r\nRetry-After: 900\r\n\r\n"),
              QByteArray("HTTP/1.1 503 Busy\r\nRetry-After: 7\r\n\r\n"),
              part + "5000-9999/10000\r\n\r\n" + file.mid(5000, 1000),
              part + "6000-9999/10000\r\n\r\n" + file.mid(6000)})
            server.addScript({{answer},
                              0,
                              answer.contains("5000-") ? ScriptedServer::End::KeepOpen
                                                       : ScriptedServer::End::Close});
        EngineFixture f;
        const int row = f.addTask(QString("http://127.0.0.1:%1/f").arg(server.port()), "f", 10000);
        QVERIFY(f.start(row) && f.waitEnded());
        for (const qint64 wait : {5000, 10000, 7000, 60000, 5000}) {
            f.clockMs += wait - 1, f.engine.Timer1Tick();
            QCOMPARE(f.engine.Down(1)->bBusy, wait == 60000);
            f.clockMs += 1, f.engine.Timer1Tick();
            QVERIFY(wait == 7000 ? QTest::qWaitFor([&] { return f.task(row).GotSize == 6000; })
                                 : f.waitEnded());
        }
        QCOMPARE(readFile(f.task(row).FilePath), file);
        QVERIFY(f.log.filter("次重试：").size() == 4
                && f.log.filter("因为超时被关闭了").size() == 1 && f.state(row) == "ok");
    }

    // The stall clock counts bytes of the body: a body that trickles over
    // several minutes goes on; a header that never ends, or endless chunk
    // extensions, is ended a minute after the request, though bytes arrive
    // all the while. The clock is stepped 10 s between arrivals.
    void stallCountsTheBody_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("stalls");
        const QByteArray body(40, 'b');
        QTest::newRow("slow body")
            << "HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n" + body << false;
        QTest::newRow("endless header") << "HTTP/1.1 200 OK\r\nX: " + body << true;
        QTest::newRow("endless chunk extension")
            << "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;" + body << true;
    }
    void stallCountsTheBody()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, stalls);
        ScriptedServer server;  // the header whole, then a byte at a time
        const int head = answer.indexOf(':') + 2;
        ScriptedServer::Script script = ScriptedServer::split(answer.mid(head), 1, 40);
        script.pieces.prepend(answer.left(head));
        script.end = ScriptedServer::End::KeepOpen;
        server.addScript(script);
        EngineFixture f;
        const int row = f.addTask(QString("http://127.0.0.1:%1/f").arg(server.port()), "f");
        QVERIFY(f.start(row));
        for (int tick = 0; tick < 12 && f.engine.Down(1)->bBusy; ++tick) {
            QTest::qWait(100);  // two bytes or so
            f.clockMs += 10000, f.engine.Timer1Tick();
        }
        QCOMPARE(f.engine.Down(1)->bBusy, !stalls);
        QCOMPARE(f.log.filter("因为超时被关闭了").size(), int(stalls));
    }

    // Speed limits on the engine's clock: each step of a second lets the
    // bytes its limits allow into the files, and no more, on the road of a
    // body of known length (splice) and of a chunked one (read). The limit
    // for all is shared equally; a task's own lower limit leaves the rest
    // to the other.
    void speedLimits_data()
    {
        QTest::addColumn<bool>("chunked");
        QTest::addColumn<qint64>("all");
        QTest::addColumn<QList<qint64>>("own");    // each task's own limit
        QTest::addColumn<QList<qint64>>("rates");  // what each gets a second
        QTest::newRow("one, known length")
            << false << 100000ll << QList<qint64>{0} << QList<qint64>{100000};
        QTest::newRow("one, chunked")
            << true << 100000ll << QList<qint64>{0} << QList<qint64>{100000};
        QTest::newRow("two share")
            << false << 100000ll << QList<qint64>{0, 0} << QList<qint64>{50000, 50000};
        QTest::newRow("own limit within")
            << false << 100000ll << QList<qint64>{20000, 0} << QList<qint64>{20000, 80000};
        QTest::newRow("own limit alone")
            << true << 0ll << QList<qint64>{30000} << QList<qint64>{30000};
    }
    void speedLimits()
    {
        QFETCH(bool, chunked);
        QFETCH(qint64, all);
        QFETCH(QList<qint64>, own);
        QFETCH(QList<qint64>, rates);
        const QByteArray body(1 << 20, 'l');
        const QByteArray answer
            = chunked ? "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n100000\r\n" + body
                      : "HTTP/1.1 200 OK\r\nContent-Length: 1048576\r\n\r\n" + body;
        ScriptedServer server;
        for (int i = 0; i < own.size(); ++i)
            server.addScript({{answer}, 0, ScriptedServer::End::KeepOpen});
        EngineFixture f;
        f.engine.setSpeedLimit(all);
        for (int i = 0; i < own.size(); ++i) {
            const int row = f.addTask(QString("http://127.0.0.1:%1/%2").arg(server.port()).arg(i),
                                      QString::number(i));
            f.task(row).SpeedLimit = own[i];
            QVERIFY(f.start(row, row));
        }
        for (int second = 1; second <= 3; ++second) {
            f.clockMs += 1000, f.engine.limitTick();
            for (int i = 0; i < own.size(); ++i) {
                // What the header and the chunk's size line took is not in the file.
                const qint64 most = rates[i] * second;
                QTRY_VERIFY(f.task(i + 1).GotSize >= most - 200);
                QTest::qWait(50);  // a read past the limit would land by now
                QVERIFY2(f.task(i + 1).GotSize <= most,
                         qPrintable(QString::number(f.task(i + 1).GotSize)));
            }
        }
    }

    // Five retries, then "error"; none for a task of unknown size.
    void givesUp()
    {
        ScriptedServer server;
        server.addScript({{}, 0, ScriptedServer::End::Reset});
        EngineFixture f;
        const QString url = QString("http://127.0.0.1:%1/f").arg(server.port());
        const int known = f.addTask(url, "k", 100), unknown = f.addTask(url, "u");
        QVERIFY(f.start(unknown) && f.waitEnded() && !f.engine.retryPending(unknown)
                && f.start(known) && f.waitEnded());
        for (int i = 0; i < DownEngine::MaxRetries; ++i) {
            f.clockMs += 5000 << i, f.engine.Timer1Tick();
            QVERIFY(f.waitEnded());
        }
        QVERIFY(f.log.filter("次重试：").size() == 5 && f.state(known) == "error");
    }
};

QTEST_GUILESS_MAIN(tst_Progress)
#include "tst_progress.moc"
