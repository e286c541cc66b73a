// A download from a server that trickles runs for ZV_SOAK_SECONDS (600
// unless set), counting every byte it writes on its slot's thread. Run by
// `make soak` only.
#include "support/fakehost.h"
#include "support/scriptedserver.h"

class tst_Soak : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void trickle()
    {
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

QTEST_GUILESS_MAIN(tst_Soak)
#include "tst_soak.moc"
