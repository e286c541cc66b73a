// Downloads from nginx on loopback, over http and https (certificates made
// for the run), directly and through tinyproxy with Basic credentials, the
// bad certificates and a proxy that refuses the tunnel included.
#include "support/fakehost.h"
#include "support/realservers.h"
#include "support/tlscerts.h"

// The URL's scheme and certificate, the proxy's password (none: direct), and
// the row's state with what the log must say.
struct Way {
    QString certificate, password, state, log;
};
Q_DECLARE_METATYPE(Way)

class tst_RealServers : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    TestCertificates certs_ = makeTestCertificates(dir_.path());
    LoopbackServer nginx_, proxy_;
    QMap<QString, quint16> tlsPorts_;  // by certificate

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(certs_.error.isEmpty(), qPrintable(certs_.error));
        // One https server a certificate, beside the http one; and a plain
        // http place that sends the client on to https.
        QString servers = "location /tls { return 302 https://127.0.0.1:%1/f.bin; } ";
        for (const QString &cert :
             {certs_.good, certs_.selfSigned, certs_.expired, certs_.otherHost}) {
            tlsPorts_[cert] = freeLoopbackPort();
            servers += QString("} server { listen 127.0.0.1:%1 ssl; ssl_certificate %2; "
                               "ssl_certificate_key %3; root %4; ")
                           .arg(tlsPorts_[cert])
                           .arg(cert, certs_.key, nginx_.root());
        }
        const QString conf = "Port %1\nListen 127.0.0.1\nAllow 127.0.0.1\nBasicAuth zv pw\n"
                             "ConnectPort 443\nConnectPort %2\n";
        for (const QString &why :
             {nginx_.startNginx(4 << 20, servers.arg(tlsPorts_[certs_.good])),
              proxy_.start("tinyproxy", {"-d", "-c"},
                           conf.arg(proxy_.port).arg(tlsPorts_[certs_.good]))})
            if (!why.isEmpty())
                QSKIP(qPrintable(why));
    }
    void download_data()
    {
        QTest::addColumn<Way>("w");
        const QString done = "的下载完成了";
        QTest::newRow("http through the proxy") << Way{"f.bin", "pw", "ok", done};
        QTest::newRow("http on to https") << Way{"tls", "", "ok", done};
        QTest::newRow("https") << Way{certs_.good, "", "ok", done};
        QTest::newRow("https through the proxy") << Way{certs_.good, "pw", "ok", done};
        QTest::newRow("self-signed")
            << Way{certs_.selfSigned, "", "error", "证书是自签名的，不受信任"};
        QTest::newRow("expired") << Way{certs_.expired, "", "error", "证书已过期"};
        QTest::newRow("another host")
            << Way{certs_.otherHost, "", "error", "证书不是为这个主机名签发的"};
        QTest::newRow("tunnel refused")
            << Way{certs_.good, "wrong", "error", "：代理服务器拒绝了连接：HTTP/1.0 40"};
    }
    void download()
    {
        QFETCH(Way, w);
        EngineFixture f;
        // A certificate's path names an https server; anything else, a place on the http one.
        const QString url
            = w.certificate.startsWith('/')
                  ? QString("https://127.0.0.1:%1/f.bin").arg(tlsPorts_[w.certificate])
                  : QString("http://127.0.0.1:%1/").arg(nginx_.port) + w.certificate;
        // Refused ones know their size, so that a retry could be booked.
        const int row = f.addTask(url, "f.bin", w.state == "ok" ? 0 : 4 << 20);
        TaskRecord &r = f.task(row);
        if (!w.password.isEmpty())
            r.ProxyHost = "127.0.0.1", r.ProxyPort = qint16(proxy_.port), r.ProxyUser = "zv";
        r.ProxyPass = w.password;
        f.start(row);
        QVERIFY(f.waitEnded(60000));
        QCOMPARE(f.state(row), w.state);
        QVERIFY2(f.log.join('\n').contains(w.log), qPrintable(f.log.join('\n')));
        // A certificate or a proxy that fails leaves no file; nothing was sent.
        QCOMPARE(readFile(r.FilePath), w.state == "ok" ? nginx_.served : QByteArray());
        QVERIFY(!f.log.join('\n').contains("wrong"));
        // A refusal is not retried, ends with its own reason and nothing else: the
        // time did not run out.
        if (w.state == "error") {
            const QString why = w.password == "wrong" ? "代理服务器拒绝连接" : "证书无法验证";
            QCOMPARE(f.log.filter("被关闭了"), QStringList(url + "的下载因为" + why + "被关闭了"));
            QVERIFY(!f.engine.retryPending(row));
        }
    }
};

QTEST_GUILESS_MAIN(tst_RealServers)
#include "tst_realservers.moc"
