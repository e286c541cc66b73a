// Whole downloads from real servers on loopback: nginx directly, through
// tinyproxy with Basic credentials, and Python's http.server, which answers
// a Range request with the whole file. Files are compared by SHA-256.
#include "support/downloadrun.h"
#include "support/fakehost.h"
#include "support/realservers.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

// Null when there is no such file.
static QByteArray sha256(const QString &path) { QFile file(path); return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex() : QByteArray(); }

// `server` serves `name`; a download ended once past `interruptAt` bytes (0:
// never) is run again and must go on with `resumeLine` ("%1": the count);
// the last log line ends in `endLine`.
struct Case { QString server, name, proxyPass; qint64 interruptAt; QString resumeLine, endLine = "的下载完成了"; };
Q_DECLARE_METATYPE(Case)

class tst_RealServers : public QObject {
    Q_OBJECT
    QTemporaryDir root_;
    LoopbackServer nginx_;

private Q_SLOTS:
    void initTestCase()
    {
        for (const auto &[name, size] : std::initializer_list<std::pair<QString, int>>{{"big.bin", 64 << 20}, {"mid.bin", (8 << 20) + 123}}) {
            QFile file(root_.filePath(name));
            QByteArray block((size + 3) & ~3, Qt::Uninitialized);
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(block.left(size)) == size);
        }
        if (const QString problem = startNginx(nginx_, root_.path()); !problem.isEmpty())
            QSKIP(qPrintable(problem));
    }

    void download_data()
    {
        QTest::addColumn<Case>("c");
        QTest::newRow("nginx, 64 MiB") << Case{"nginx", "big.bin", {}, 0, {}};
        QTest::newRow("nginx, interrupted then resumed") << Case{"nginx", "big.bin", {}, 16 << 20, "开始从%1断点续传下载"};
        QTest::newRow("tinyproxy, right credentials") << Case{"tinyproxy", "mid.bin", "secret", 0, {}};
        QTest::newRow("tinyproxy, wrong credentials") << Case{"tinyproxy", "mid.bin", "wrong", 0, {}, "出错了"};
        // The resume asks for a range; the whole file comes back and replaces what was there.
        QTest::newRow("http.server ignores Range") << Case{"python", "mid.bin", {}, 1 << 20, "开始下载"};
    }
    void download()
    {
        QFETCH(Case, c);
        LoopbackServer extra;
        if (const QString problem = c.server == "tinyproxy" ? startTinyproxy(extra, "zvuser", "secret") : c.server == "python" ? startPythonHttp(extra, root_.path()) : QString(); !problem.isEmpty())
            QSKIP(qPrintable(problem));
        EngineFixture f;
        const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(c.server == "python" ? extra.port : nginx_.port) + c.name;
        const int row = f.addTask(url, c.name);
        const qint64 size = QFileInfo(root_.filePath(c.name)).size();
        TaskRecord &r = f.host.tasks(row);
        if (c.server == "tinyproxy")
            r.ProxyHost = "127.0.0.1", r.ProxyPort = qint16(extra.port), r.ProxyUser = "zvuser", r.ProxyPass = c.proxyPass;
        bool fired = c.interruptAt == 0;   // ended once between two arrivals, the way a user's stop would
        f.host.afterArrival = [&] {
            if (!fired && r.GotSize > c.interruptAt)
                fired = true, QTimer::singleShot(0, &f.engine, [&f] { f.engine.CloseSocket(1, "用户取消"); });
        };
        qint64 got = 0;
        if (c.interruptAt > 0) {
            QVERIFY(runTask(f.engine, 1, row, 120000));
            got = r.GotSize;
            QVERIFY(got > c.interruptAt && got < size && QFileInfo(f.file(c.name)).size() == got && f.host.states.value(row) == "stop");
            f.host.log.clear();
        }
        QVERIFY(runTask(f.engine, 1, row, 120000));
        const bool ok = c.endLine == "的下载完成了";
        QVERIFY(got == 0 || f.host.log.contains(url + QString(c.resumeLine).replace("%1", QString::number(got))));
        QCOMPARE(f.host.log.last(), url + c.endLine);
        QCOMPARE(f.host.states.value(row), QString(ok ? "ok" : "stop"));
        QVERIFY(r.GotSize == (ok ? size : 0) && (!ok || (r.FileSize == size && f.host.text(row, 1) == QString::number(size))));
        // Wrong credentials leave no file at all.
        QCOMPARE(sha256(f.file(c.name)), ok ? sha256(root_.filePath(c.name)) : QByteArray());
    }
};

QTEST_GUILESS_MAIN(tst_RealServers)
#include "tst_realservers.moc"
