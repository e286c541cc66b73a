// Downloads from nginx on loopback, over http and https (certificates made
// for the run), directly and through tinyproxy with Basic credentials, the
// bad certificates and a proxy that refuses the tunnel included; under host
// names, through a proxy that keeps what it is sent; a speed limit over TLS.
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
    const auto at = [d = QDir(folder)](const char *name) { return d.filePath(name); };
    TestCertificates c{QString(),           at("ca.pem"),   at("server.key"), at("good.pem"),
                       at("localhost.pem"), at("self.pem"), at("expired.pem")};
    const QString caKey = at("ca.key"), csr = at("server.csr");
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

// A URL whose port is named by where it leads ("%h" the http server, "%g",
// "%s", "%x" the https ones with the good, self-signed and expired
// certificates, "%l" the one for "localhost"; r.bin and tls redirect to f.bin,
// over http by name and over https); a proxy's password ("": direct; tinyproxy
// unless `asked`, the first request line the recording proxy is to get, "%1"
// the URL's port, is given); the bytes on disk before (a resume); the row's
// state and what the log must say.
struct Way {
    QString url, password;
    int had = 0;
    QByteArray asked = {};
    QString state = "ok", log = "的下载完成了";
};
Q_DECLARE_METATYPE(Way)

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
    // Downloads directly and through a proxy, and refusals. The proxy is
    // asked for the server by its name, with the default port when the URL
    // has none; the server gets the request as a direct one would send it,
    // and neither is sent what belongs to the other. A refusal is not
    // retried and ends with its own reason alone: the time did not run out.
    void download_data()
    {
        QTest::addColumn<Way>("w");
        const QString name = "证书不是为这个主机名签发的", https = "https://localhost/f.bin";
        QTest::newRow("http through tinyproxy") << Way{"http://127.0.0.1:%h/f.bin", "pw", 0};
        QTest::newRow("http on to https") << Way{"http://127.0.0.1:%h/tls", "", 0};
        QTest::newRow("https") << Way{"https://127.0.0.1:%g/f.bin", "", 0};
        QTest::newRow("https through tinyproxy") << Way{"https://127.0.0.1:%g/f.bin", "pw", 0};
        QTest::newRow("self-signed")
            << Way{"https://127.0.0.1:%s/f.bin", "", 0, {}, "error", "证书是自签名的，不受信任"};
        QTest::newRow("expired") << Way{
            "https://127.0.0.1:%x/f.bin", "", 0, {}, "error", "证书已过期"};
        QTest::newRow("tunnel refused")
            << Way{"https://127.0.0.1:%g/f.bin",         "wrong", 0, {}, "error",
                   "：代理服务器拒绝了连接：HTTP/1.0 40"};
        QTest::newRow("https by name") << Way{"https://localhost:%l/f.bin", "", 0};
        QTest::newRow("https by address")
            << Way{"https://127.0.0.1:%l/f.bin", "", 0, {}, "error", name};
        const QByteArray tunnel = "CONNECT localhost:443 HTTP/1.1";
        QTest::newRow("https through the proxy") << Way{https, "pw", 0, tunnel, "ok"};
        QTest::newRow("https with its port through the proxy")
            << Way{"https://localhost:%l/f.bin", "pw", 0, "CONNECT localhost:%1 HTTP/1.1", "ok"};
        QTest::newRow("https resumed through the proxy")
            << Way{https, "pw", 1 << 20, tunnel, "ok"};
        QTest::newRow("http through the proxy")
            << Way{"http://localhost/f.bin", "pw", 0, "GET http://localhost/f.bin HTTP/1.1", "ok"};
        QTest::newRow("http redirected through the proxy")
            << Way{"http://localhost/r.bin", "pw", 0, "GET http://localhost/r.bin HTTP/1.1", "ok"};
        QTest::newRow("http with its port through the proxy") << Way{
            "http://localhost:%h/f.bin", "pw", 0, "GET http://localhost:%1/f.bin HTTP/1.1", "ok"};
    }
    void download()
    {
        QFETCH(Way, w);
        QString url = w.url;
        for (const auto &[mark, port] : {std::pair("%h", nginx_.port),
                                         {"%g", tlsPorts_[certs_.good]},
                                         {"%s", tlsPorts_[certs_.selfSigned]},
                                         {"%x", tlsPorts_[certs_.expired]},
                                         {"%l", localhostPort_}})
            url.replace(mark, QString::number(port));
        const QUrl parsed(url);
        const bool tls = parsed.scheme() == "https";
        RecordingProxy recording;
        recording.portFor = {{443, localhostPort_}, {80, nginx_.port}};
        EngineFixture f;
        // Refused ones know their size, so that a retry could be booked.
        const int size = w.had || w.state != "ok" ? nginx_.served.size() : 0;
        const int row = f.addTask(url, "f.bin", size, w.had);
        TaskRecord &r = f.task(row);
        QVERIFY(writeFile(r.FilePath, nginx_.served.left(w.had)));
        if (!w.password.isEmpty())
            r.ProxyHost = "127.0.0.1", r.ProxyUser = "zv", r.ProxyPass = w.password,
            r.ProxyPort = qint16(w.asked.isEmpty() ? proxy_.port : recording.port());
        QFile requests(nginx_.root() + "/requests");
        const qint64 before = requests.size();
        f.start(row);
        QVERIFY(f.waitEnded(60000));
        QCOMPARE(f.state(row), w.state);
        QVERIFY2(f.log.join('\n').contains(w.log), qPrintable(f.log.join('\n')));
        // A certificate or a proxy that fails leaves no file; nothing was sent.
        QCOMPARE(readFile(r.FilePath), w.state == "ok" ? nginx_.served : QByteArray());
        QVERIFY(!f.log.join('\n').contains("wrong"));
        if (w.state == "error") {
            const QString why = w.password == "wrong" ? "代理服务器拒绝连接" : "证书无法验证";
            QCOMPARE(f.log.filter("被关闭了"), QStringList(url + "的下载因为" + why + "被关闭了"));
            QVERIFY(!f.engine.retryPending(row));
        }
        // The recording proxy: each request (a redirect's too), in the form it
        // is asked in, with the task's credentials.
        const QList<QByteArray> &headers = recording.headers();
        const QByteArray host = parsed.authority().toLatin1(),
                         port = host.mid(host.indexOf(':') + 1);
        QCOMPARE(headers.size(), w.asked.isEmpty() ? 0 : url.endsWith("r.bin") ? 2 : 1);
        for (const QByteArray &header : headers) {
            const QByteArray line = header.left(header.indexOf("\r\n"));
            QCOMPARE(line, &header == &headers.first() ? QByteArray(w.asked).replace("%1", port)
                                                       : "GET http://localhost/f.bin HTTP/1.1");
            QVERIFY(header.contains("\r\nProxy-Authorization: Basic "
                                    + QByteArray("zv:pw").toBase64() + "\r\n"));
            QVERIFY(tls || header.contains("\r\nHost: " + host + "\r\n"));
        }
        // The server for "localhost", under TLS: the name as it was asked for,
        // and nothing of the proxy's.
        QByteArray asked;
        const bool logged = url.startsWith("https://localhost") && w.state == "ok";
        if (logged)
            (void)QTest::qWaitFor([&] { return requests.size() > before; });
        if (requests.open(QIODevice::ReadOnly) && requests.seek(before))
            asked = requests.readAll();
        const QString range = w.had ? QString("bytes=%1-").arg(w.had) : "-";
        QCOMPARE(QString(asked),
                 logged ? "GET /f.bin HTTP/1.1|" + host + "|-|localhost|" + range + "\n"
                        : QString());
    }

    // A speed limit holds over TLS too: each second on the engine's clock lets
    // in what it allows, and no more (what the header took is not in the file),
    // also for what was decrypted before the server closed the connection: the
    // last 450,000 bytes of the file, which it sends at once.
    void limitedTls()
    {
        EngineFixture f;
        f.engine.setSpeedLimit(100000);
        const qint64 size = nginx_.served.size(), had = size - 450000;
        const int row = f.addTask(
            QString("https://127.0.0.1:%1/f.bin").arg(tlsPorts_[certs_.good]), "f.bin", size, had);
        QVERIFY(writeFile(f.task(row).FilePath, nginx_.served.left(had)));
        QVERIFY(f.start(row));
        for (qint64 most = 100000; most <= 500000; most += 100000) {
            f.clockMs += 1000, f.engine.limitTick();
            QTRY_VERIFY(f.task(row).GotSize - had >= qMin<qint64>(most, 450000) - 400);
            QTest::qWait(50);  // a read past the limit would land by now
            QVERIFY(f.task(row).GotSize - had <= most);
        }
        QVERIFY(f.waitEnded());
        QCOMPARE(std::pair(f.state(row), readFile(f.task(row).FilePath)),
                 std::pair(QString("ok"), nginx_.served));
    }
};

QTEST_GUILESS_MAIN(tst_RealServers)
#include "tst_realservers.moc"
