// A download from nginx on loopback through tinyproxy with Basic
// credentials: refused with a wrong password, then stopped by the user part
// way and resumed, and the file ends equal to the served one.
#include "support/fakehost.h"
#include "support/realservers.h"

class tst_RealServers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void stoppedAndResumedThroughProxy()
    {
        QTemporaryDir served;
        QByteArray source(16 << 20, '\0');
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(source.data()), 4 << 20);
        QFile file(served.filePath("f.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(source) == source.size());
        file.close();
        LoopbackServer nginx, proxy;
        for (const QString &why :
             {nginx.startNginx(served.path()), proxy.startTinyproxy("zv", "pw")})
            if (!why.isEmpty())
                QSKIP(qPrintable(why));
        EngineFixture f;
        const QString url = QString("http://127.0.0.1:%1/f.bin").arg(nginx.port);
        const int row = f.addTask(url, "f.bin");
        TaskRecord &r = f.task(row);
        // A wrong password first: the proxy refuses, and no file is made.
        r.ProxyHost = "127.0.0.1", r.ProxyPort = qint16(proxy.port);
        r.ProxyUser = "zv", r.ProxyPass = "wrong";
        bool stop = true;  // the user stops it once, between two arrivals
        f.host.afterDraw = [&](qint64) {
            if (stop && r.GotSize > source.size() / 4)
                stop = false, QTimer::singleShot(0, [&] { f.engine.CloseSocket(1, "用户取消"); });
        };
        QVERIFY(f.run(row, 60000));
        QCOMPARE(f.host.log.last(), url + "出错了");
        QVERIFY(!QFile::exists(r.FilePath));
        r.ProxyPass = "pw";
        QVERIFY(f.run(row, 60000));
        const qint64 got = r.GotSize;
        QVERIFY(got > source.size() / 4 && got < source.size());
        QCOMPARE(QFileInfo(r.FilePath).size(), got);
        QCOMPARE(f.host.states.value(row), "stop");
        QVERIFY(f.run(row, 60000));
        QVERIFY(f.host.log.contains(url + QString("开始从%1断点续传下载").arg(got)));
        QCOMPARE(f.host.log.last(), url + "的下载完成了");
        QCOMPARE(f.host.states.value(row) + f.host.texts.value({row, 1}),
                 "ok" + QString::number(source.size()));
        QVERIFY(readFile(r.FilePath) == source);
    }
};

QTEST_GUILESS_MAIN(tst_RealServers)
#include "tst_realservers.moc"
