// Starts on one slot, each the moment the previous download there ended,
// while the test keeps both cores and the disk busy: every start reaches
// the server and completes. ZV_STRESS_STARTS starts (50 unless set; `make
// soak` runs 500). And, for `make soak` only, a download from a server that
// trickles for ZV_SOAK_SECONDS (600 unless set), counting every byte it
// writes on its slot's thread.
#include "support/fakehost.h"
#include "support/scriptedserver.h"

#include <atomic>
#include <thread>
#include <unistd.h>
#include <vector>

class tst_Stress : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void startsRightAfterEnds()
    {
        const int starts = qEnvironmentVariable("ZV_STRESS_STARTS", "50").toInt();
        const QByteArray body(20000, 'b');
        ScriptedServer server;
        server.addScript({{"HTTP/1.1 200 OK\r\nContent-Length: 20000\r\n\r\n", body}});
        EngineFixture f;
        const QString url = QString("http://127.0.0.1:%1/f").arg(server.port());
        for (int i = 1; i <= starts; ++i)
            f.addTask(url + "?" + QString::number(i), "f" + QString::number(i));

        std::atomic<bool> busy{true};
        std::vector<std::thread> load;
        for (int i = 0; i < 2; ++i)
            load.emplace_back([&] {
                volatile quint64 n = 0;
                while (busy.load(std::memory_order_relaxed))
                    n = n * 6364136223846793005ull + 1;
            });
        load.emplace_back([&, path = f.dir.filePath("load")] {
            const QByteArray block(1 << 20, 'l');
            while (busy.load(std::memory_order_relaxed)) {
                QFile file(path);
                if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                    file.write(block), file.flush(), ::fsync(file.handle());
            }
        });

        // The next row starts as a double-click would: an event after the end.
        QObject::connect(&f.model, &TaskModel::stateChanged,
                         [&](int row, const QString &, const QString &after) {
                             if (after == "ok" && row < starts)
                                 QTimer::singleShot(0, [&f, row] {
                                     f.engine.StartTask(1, row + 1, f.task(row + 1).FilePath);
                                 });
                         });
        f.engine.StartTask(1, 1, f.task(1).FilePath);
        const bool done = QTest::qWaitFor(
            [&] { return f.state(starts) != "stop" && !f.model.running(starts); }, starts * 2000);
        busy = false;
        for (std::thread &t : load)
            t.join();
        QVERIFY(done);
        QCOMPARE(server.requests().size(), starts);
        for (int row = 1; row <= starts; ++row)
            QCOMPARE(f.state(row) + QString::number(readFile(f.task(row).FilePath).size()),
                     "ok" + QString::number(body.size()));
        QCOMPARE(f.log.filter("被关闭了").size(), 0);
    }

    void trickle()
    {
        if (!QCoreApplication::arguments().contains("trickle"))
            QSKIP("a soak, run by name only (make soak)");
        const int seconds = qEnvironmentVariable("ZV_SOAK_SECONDS", "600").toInt();
        ScriptedServer server;  // 1 KiB every 10 ms, for longer than the soak lasts
        QByteArray body((seconds + 60) * 102400, 's');
        server.addScript(ScriptedServer::split(body.prepend("HTTP/1.1 200 OK\r\n\r\n"), 1024, 10));
        EngineFixture f;
        QVERIFY(f.start(f.addTask(QString("http://127.0.0.1:%1/f").arg(server.port()), "f")));
        QVERIFY(!f.waitEnded(seconds * 1000));  // the download still runs
        // Never ahead of the file while its thread writes; equal once collected.
        QVERIFY(f.task(1).GotSize <= QFileInfo(f.task(1).FilePath).size());
        f.engine.shutDown();
        QCOMPARE(f.task(1).GotSize, QFileInfo(f.task(1).FilePath).size());
    }
};

QTEST_GUILESS_MAIN(tst_Stress)
#include "tst_stress.moc"
