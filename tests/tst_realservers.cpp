// A download from nginx on loopback through tinyproxy with Basic
// credentials: the file ends equal to the served one.
#include "support/fakehost.h"
#include "support/realservers.h"

class tst_RealServers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void throughProxy()
    {
        LoopbackServer nginx, proxy;
        const QString conf = "Port %1\nListen 127.0.0.1\nAllow 127.0.0.1\nBasicAuth zv pw\n";
        for (const QString &why : {nginx.startNginx(4 << 20),
                                   proxy.start("tinyproxy", {"-d", "-c"}, conf.arg(proxy.port))})
            if (!why.isEmpty())
                QSKIP(qPrintable(why));
        EngineFixture f;
        const int row = f.addTask(QString("http://127.0.0.1:%1/f.bin").arg(nginx.port), "f.bin");
        TaskRecord &r = f.task(row);
        r.ProxyHost = "127.0.0.1", r.ProxyPort = qint16(proxy.port);
        r.ProxyUser = "zv", r.ProxyPass = "pw";
        QVERIFY(f.start(row) && f.waitEnded(60000) && f.states.value(row) == "ok");
        QVERIFY(readFile(r.FilePath) == nginx.served);
    }
};

QTEST_GUILESS_MAIN(tst_RealServers)
#include "tst_realservers.moc"
