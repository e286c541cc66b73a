// Downloads from nginx on loopback, over http and https (certificates made
// for the run), directly and through tinyproxy with Basic credentials, the
// bad certificates and a proxy that refuses the tunnel included; and under
// host names, through a proxy that keeps what it is sent.
#include "support/fakehost.h"
#include "support/realservers.h"

#include <QProcess>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

// Certificates made for one test run with the openssl command: a CA this
// process trusts (never the system's store), a server certificate for
// 127.0.0.1 signed by it, one for the name "localhost" alone (not for its
// address; "https by address" is its name mismatch), and bad ones
// (self-signed, expired), all with one key; `error` is empty when everything was made.
struct TestCertificates {
    QString error;
    QString ca, key, good, localhost, selfSigned, expired;
};

static TestCertificates makeTestCertificates(const QString &folder)
{
    const QDir d(folder);
    TestCertificates c{{},
                       d.filePath("ca.pem"),
                       d.filePath("server.key"),
                       d.filePath("good.pem"),
                       d.filePath("localhost.pem"),
                       d.filePath("self.pem"),
                       d.filePath("expired.pem")};
    const QString caKey = d.filePath("ca.key"), csr = d.filePath("server.csr");
    const auto run = [&c](const QStringList &args) {
        QProcess p;
        p.start("openssl", args);
        if (!c.error.isEmpty() || (p.waitForFinished(30000) && p.exitCode() == 0))
            return c.error.isEmpty();
        c.error = "openssl " + args.join(' ') + ": " + p.readAllStandardError();
        return false;
    };
    // Each signed certificate: its validity in days and its subjectAltName.
    const auto sign = [&](const QString &out, const char *days, const char *altName,
                          const QString &request) {
        QFile ext(out + ".ext");
        ext.open(QIODevice::WriteOnly);
        ext.write(QByteArray("subjectAltName=") + altName + "\n");
        ext.close();
        return run({"x509", "-req", "-in", request, "-CA", c.ca, "-CAkey", caKey,
                    "-CAcreateserial", "-days", days, "-extfile", ext.fileName(), "-out", out});
    };
    run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Zipvane test CA", "-days",
         "2", "-keyout", caKey, "-out", c.ca});
    run({"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout", c.key,
         "-out", csr});
    run({"req", "-new", "-key", c.key, "-subj", "/CN=localhost", "-out", csr + ".localhost"});
    sign(c.good, "2", "IP:127.0.0.1", csr);
    sign(c.localhost, "2", "DNS:localhost", csr + ".localhost");
    sign(c.expired, "-1", "IP:127.0.0.1", csr);  // it ended a day before it began
    run({"x509", "-req", "-in", csr, "-signkey", c.key, "-days", "2", "-out", c.selfSigned});
    if (c.error.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(c.ca);
        QSslConfiguration::setDefaultConfiguration(tls);
    }
    return c;
}

// A loopback HTTP proxy that keeps the header of every request it is sent (a
// CONNECT, or a request in absolute form), one per connection, and then joins
// the connection to the server it names: a CONNECT after its 200, any other
// request by passing it on as it came. The name is resolved here, as a proxy
// does; only loopback names are reached (anything else is answered 403), and a
// port can be taken elsewhere (443 and 80 cannot be listened on without root).
class RecordingProxy : public QTcpServer {
public:
    RecordingProxy()
    {
        listen(QHostAddress::LocalHost, freeLoopbackPort());
        connect(this, &QTcpServer::newConnection, this, [this] {  // once per connection
            QTcpSocket *client = nextPendingConnection();
            connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QTcpSocket::readyRead, client, [this, client] {
                const QByteArray got = client->property("got").toByteArray() + client->readAll();
                client->setProperty("got", got);
                if (got.contains("\r\n\r\n")) {
                    client->disconnect(client, &QTcpSocket::readyRead, nullptr, nullptr);
                    join(client, got);
                }
            });
        });
    }

    quint16 port() const { return serverPort(); }
    const QList<QByteArray> &headers() const { return headers_; }
    QMap<quint16, quint16> portFor;  // a port asked for -> the port reached instead

private:
    void join(QTcpSocket *client, const QByteArray &bytes)
    {
        const QByteArray header = bytes.left(bytes.indexOf("\r\n\r\n") + 4);
        headers_.append(header);
        const QList<QByteArray> words = header.left(header.indexOf("\r\n")).split(' ');
        const bool tunnel = words.value(0) == "CONNECT";
        const QUrl to(QString::fromLatin1((tunnel ? "//" : "") + words.value(1)));
        if (to.host() != "localhost" && to.host() != "127.0.0.1") {
            client->write("HTTP/1.1 403 Forbidden\r\n\r\n"), client->disconnectFromHost();
            return;
        }
        auto *server = new QTcpSocket(client);
        const auto pass = [](QTcpSocket *from, QTcpSocket *into) { into->write(from->readAll()); };
        connect(client, &QTcpSocket::readyRead, server, [=] { pass(client, server); });
        connect(server, &QTcpSocket::readyRead, client, [=] { pass(server, client); });
        connect(server, &QTcpSocket::disconnected, client,
                [=] { pass(server, client), client->disconnectFromHost(); });
        connect(client, &QTcpSocket::disconnected, server, &QTcpSocket::disconnectFromHost);
        connect(server, &QTcpSocket::connected, client, [=] {
            server->setProperty("up", true);
            if (tunnel)
                client->write("HTTP/1.1 200 Connection established\r\n\r\n");
        });
        connect(server, &QTcpSocket::errorOccurred, client, [=] {
            if (!server->property("up").toBool())
                client->write("HTTP/1.1 502 Bad Gateway\r\n\r\n"), client->disconnectFromHost();
        });
        const quint16 asked = quint16(to.port(tunnel ? 443 : 80));
        // Written before the connection stands, it goes out once it does.
        server->connectToHost(to.host(), portFor.value(asked, asked));
        server->write(tunnel ? bytes.mid(header.size()) : bytes);
    }
    QList<QByteArray> headers_;
};

// The URL's scheme and certificate, the proxy's password (none: direct), and
// the row's state with what the log must say.
struct Way {
    QString certificate, password, state, log;
};
Q_DECLARE_METATYPE(Way)

// A URL under a name (with its port written or not), directly or through the
// proxy; the bytes on disk before (a resume); the proxy's request line ("%1":
// the URL's port) and the row's state; the file asked for (r.bin: a redirect
// to f.bin on the same server).
struct Named {
    QString scheme, host;
    bool port;
    int had;
    QByteArray asked;
    QString state;
    QString file = "f.bin";
};
Q_DECLARE_METATYPE(Named)

class tst_RealServers : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    TestCertificates certs_ = makeTestCertificates(dir_.path());
    LoopbackServer nginx_, proxy_;
    QMap<QString, quint16> tlsPorts_;  // by certificate
    // https for "localhost" only, writing down what it is asked inside TLS.
    const quint16 localhostPort_ = freeLoopbackPort();

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(certs_.error.isEmpty(), qPrintable(certs_.error));
        // One https server a certificate, beside the http one; and a plain
        // http place that sends the client on to https.
        QString servers = "location /tls { return 302 https://127.0.0.1:%1/f.bin; } "
                          "location = /r.bin { return 302 http://localhost/f.bin; } ";
        for (const QString &cert : {certs_.good, certs_.selfSigned, certs_.expired}) {
            tlsPorts_[cert] = freeLoopbackPort();
            servers += QString("} server { listen 127.0.0.1:%1 ssl; ssl_certificate %2; "
                               "ssl_certificate_key %3; root %4; ")
                           .arg(tlsPorts_[cert])
                           .arg(cert, certs_.key, nginx_.root());
        }
        servers += QString("} log_format zv '$request|$http_host|$http_proxy_authorization|"
                           "$ssl_server_name|$http_range'; server { listen 127.0.0.1:%1 ssl; "
                           "ssl_certificate %2; ssl_certificate_key %3; root %4; "
                           "access_log %4/requests zv; ")
                       .arg(localhostPort_)
                       .arg(certs_.localhost, certs_.key, nginx_.root());
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

    // A speed limit holds over TLS too: each second on the engine's clock lets
    // in what it allows, and no more (what the header took is not in the file).
    void limitedTls()
    {
        EngineFixture f;
        f.engine.setSpeedLimit(100000);
        const int row = f.addTask(
            QString("https://127.0.0.1:%1/f.bin").arg(tlsPorts_[certs_.good]), "f.bin");
        QVERIFY(f.start(row));
        for (qint64 most = 100000; most <= 300000; most += 100000) {
            f.clockMs += 1000, f.engine.limitTick();
            QTRY_VERIFY(f.task(row).GotSize >= most - 400);
            QTest::qWait(50);  // a read past the limit would land by now
            QVERIFY(f.task(row).GotSize <= most);
        }
    }

    // The proxy is asked for the server by its name, with the default port
    // when the URL has none; the server gets the request as a direct one
    // would send it, and neither is sent what belongs to the other.
    void names_data()
    {
        QTest::addColumn<Named>("n");
        QTest::newRow("https by name") << Named{"https", "localhost", true, 0, {}, "ok"};
        QTest::newRow("https by address") << Named{"https", "127.0.0.1", true, 0, {}, "error"};
        QTest::newRow("https through the proxy")
            << Named{"https", "localhost", false, 0, "CONNECT localhost:443 HTTP/1.1", "ok"};
        QTest::newRow("https with its port through the proxy")
            << Named{"https", "localhost", true, 0, "CONNECT localhost:%1 HTTP/1.1", "ok"};
        QTest::newRow("https resumed through the proxy")
            << Named{"https", "localhost", false, 1 << 20, "CONNECT localhost:443 HTTP/1.1", "ok"};
        QTest::newRow("http through the proxy")
            << Named{"http", "localhost", false, 0, "GET http://localhost/f.bin HTTP/1.1", "ok"};
        QTest::newRow("http redirected through the proxy") << Named{
            "http", "localhost", false, 0, "GET http://localhost/r.bin HTTP/1.1", "ok", "r.bin"};
        QTest::newRow("http with its port through the proxy")
            << Named{"http", "localhost", true, 0, "GET http://localhost:%1/f.bin HTTP/1.1", "ok"};
    }
    void names()
    {
        QFETCH(Named, n);
        const bool tls = n.scheme == "https";
        const QByteArray port = QByteArray::number(tls ? localhostPort_ : nginx_.port);
        const QString host = n.host + (n.port ? ":" + port : "");
        RecordingProxy proxy;
        proxy.portFor = {{443, localhostPort_}, {80, nginx_.port}};
        EngineFixture f;
        const int row = f.addTask(n.scheme + "://" + host + "/" + n.file, "f.bin",
                                  n.had ? nginx_.served.size() : 0, n.had);
        TaskRecord &r = f.task(row);
        QFile had(r.FilePath);
        QVERIFY(had.open(QIODevice::WriteOnly) && had.write(nginx_.served.left(n.had)) == n.had);
        had.close();
        if (!n.asked.isEmpty())
            r.ProxyHost = "127.0.0.1", r.ProxyPort = qint16(proxy.port()), r.ProxyUser = "zv",
            r.ProxyPass = "pw";
        QFile requests(nginx_.root() + "/requests");
        const qint64 before = requests.size();
        f.start(row);
        QVERIFY(f.waitEnded(60000));
        QCOMPARE(f.state(row), n.state);
        QCOMPARE(readFile(r.FilePath), n.state == "ok" ? nginx_.served : QByteArray());
        if (n.state != "ok")
            QVERIFY(f.log.join('\n').contains("证书不是为这个主机名签发的"));
        // The proxy: each request (a redirect's too), in the form it is asked in,
        // with the task's credentials.
        const QList<QByteArray> &headers = proxy.headers();
        QCOMPARE(headers.size(), n.asked.isEmpty() ? 0 : n.file == "f.bin" ? 1 : 2);
        for (const QByteArray &header : headers) {
            const QByteArray line = header.left(header.indexOf("\r\n"));
            QCOMPARE(line, &header == &headers.first() ? QByteArray(n.asked).replace("%1", port)
                                                       : "GET http://localhost/f.bin HTTP/1.1");
            QVERIFY(header.contains("\r\nProxy-Authorization: Basic "
                                    + QByteArray("zv:pw").toBase64() + "\r\n"));
            QVERIFY(tls || header.contains("\r\nHost: " + host.toLatin1() + "\r\n"));
        }
        // The server under TLS: the name as it was asked for, and nothing of the proxy's.
        QByteArray asked;
        if (tls && n.state == "ok")
            (void)QTest::qWaitFor([&] { return requests.size() > before; });
        if (requests.open(QIODevice::ReadOnly) && requests.seek(before))
            asked = requests.readAll();
        const QString range = n.had ? QString("bytes=%1-").arg(n.had) : "-";
        QCOMPARE(QString(asked), tls && n.state == "ok" ? "GET /f.bin HTTP/1.1|" + host
                                                              + "|-|localhost|" + range + "\n"
                                                        : QString());
    }
};

QTEST_GUILESS_MAIN(tst_RealServers)
#include "tst_realservers.moc"
