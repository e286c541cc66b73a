// One download session against a scripted loopback server: the request it
// sends, how it takes hostile responses, how it ends, and the connect wait
// with everything that may run inside it.
#include "app/gbktext.h"
#include "engine/downengine.h"
#include "engine/request.h"
#include "support/downloadrun.h"
#include "support/fakehost.h"
#include "support/scriptedserver.h"
#include "support/testsockets.h"

#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

struct Fixture {
    explicit Fixture(DownEngine::SocketFactory makeSocket = {}) : engine(host, makeSocket)
    {
        host.engine = &engine;
    }
    QString file(const QString &name) const { return dir.filePath(name); }
    int addTask(const QString &url, const QString &name, qint64 fileSize = 0, qint64 gotSize = 0)
    {
        return host.addTask(url, file(name), fileSize, gotSize);
    }

    QTemporaryDir dir;
    FakeHost host;
    DownEngine engine;
};

QString urlOf(const ScriptedServer &server, const QString &path = QStringLiteral("/dir/f.bin"))
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(server.port()).arg(path);
}

QByteArray ok200(const QByteArray &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// A header spread over several arrivals logs its status once per arrival;
// how TCP groups the pieces is not ours to decide, so repeats are folded.
QStringList folded(const QStringList &lines)
{
    QStringList out;
    for (const QString &line : lines) {
        if (out.isEmpty() || out.last() != line)
            out.append(line);
    }
    return out;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

const QString ConnectLine = QStringLiteral("Winsock1与127.0.0.1连接成功！");

} // namespace

class tst_Session : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void request_data();
    void request();
    void hostileResponses_data();
    void hostileResponses();
    void headerSplitAtEveryOffset();
    void stopWhileHeaderArrives();
    void writeFailureEndsTheSession();
    void connectTimeout_data();
    void connectTimeout();
    void errorDuringWaitLogsTwice();
    void stopDuringWait();
    void newSessionTakesTheSlotDuringAWait();
    void startOnOtherSlotInsideAWait();
    void closeSocketLines_data();
    void closeSocketLines();
    void elapsedTime_data();
    void elapsedTime();
    void activityDots();
};

void tst_Session::request_data()
{
    QTest::addColumn<qint64>("fileSize");
    QTest::addColumn<qint64>("gotSize");
    QTest::addColumn<QString>("proxyUser");
    QTest::addColumn<bool>("viaProxy");
    QTest::addColumn<QByteArray>("mustContain");
    QTest::addColumn<QByteArray>("mustLack");

    QTest::newRow("direct, length unknown") << qint64(0) << qint64(0) << QString() << false
                                            << QByteArray("GET /dir/f.bin?x=1 HTTP/1.1\r\n")
                                            << QByteArray("Range:");
    QTest::newRow("direct resume") << qint64(1000) << qint64(400) << QString() << false
                                   << QByteArray("\r\nRange: bytes=400-\r\n")
                                   << QByteArray("Proxy-Authorization");
    QTest::newRow("known length from 0") << qint64(1000) << qint64(0) << QString() << false
                                         << QByteArray("\r\nRange: bytes=0-\r\n")
                                         << QByteArray("Proxy-Authorization");
    QTest::newRow("proxy, user with empty password")
        << qint64(0) << qint64(0) << QStringLiteral("u") << true
        << QByteArray("\r\nProxy-Authorization: Basic dTo=\r\n") << QByteArray("Range:");
    QTest::newRow("proxy without user") << qint64(0) << qint64(0) << QString() << true
                                        << QByteArray("GET http://") << QByteArray("Proxy-Authorization");
}

void tst_Session::request()
{
    QFETCH(qint64, fileSize);
    QFETCH(qint64, gotSize);
    QFETCH(QString, proxyUser);
    QFETCH(bool, viaProxy);
    QFETCH(QByteArray, mustContain);
    QFETCH(QByteArray, mustLack);

    // A proxy port is 16-bit signed: the server takes a port below 32768.
    ScriptedServer server(ScriptedServer::LowPort);
    QVERIFY(server.port() > 0 && server.port() < 32768);
    server.addScript(ScriptedServer::split("HTTP/1.1 404 Not Found\r\n\r\n"));
    Fixture f;
    // Through the proxy the URL's own host is never connected to.
    const QString url = viaProxy ? QStringLiteral("http://files.invalid:8080/dir/f.bin?x=1")
                                 : urlOf(server, QStringLiteral("/dir/f.bin?x=1"));
    const int row = f.addTask(url, QStringLiteral("f.bin"), fileSize, gotSize);
    if (viaProxy) {
        f.host.tasks(row).ProxyHost = QStringLiteral("127.0.0.1");
        f.host.tasks(row).ProxyPort = qint16(server.port());
        f.host.tasks(row).ProxyUser = proxyUser;
    }
    QVERIFY(runTask(f.engine, 1, row));
    QCOMPARE(server.requests().size(), 1);
    const QByteArray sent = server.requests().first();

    RequestInput in;
    in.viaProxy = viaProxy;
    in.mPath = QStringLiteral("/dir/f.bin?x=1");
    in.DownUrl = url;
    in.mHost = url.mid(7, url.indexOf(QLatin1Char('/'), 7) - 7);
    in.mProxyId = proxyUser;
    in.mFlen = fileSize;
    in.ReceiveBytes = gotSize;
    QCOMPARE(sent, GbkText::encode(BuildRequest(in)));
    QVERIFY(sent.startsWith(viaProxy ? "GET " + url.toLatin1() + " HTTP/1.1\r\n"
                                     : QByteArray("GET /dir/f.bin?x=1 HTTP/1.1\r\n")));
    QVERIFY(sent.contains("\r\nHost: " + in.mHost.toLatin1() + "\r\n"));
    QVERIFY(sent.contains("\r\nConnection: close\r\n\r\n"));
    QVERIFY(sent.endsWith("\r\n\r\n"));
    QVERIFY2(sent.contains(mustContain), sent.constData());
    QVERIFY2(!sent.contains(mustLack), sent.constData());
}

void tst_Session::hostileResponses_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<int>("end");
    QTest::addColumn<QByteArray>("onDisk");        // null: no file before
    QTest::addColumn<qint64>("fileSize");
    QTest::addColumn<qint64>("gotSize");
    QTest::addColumn<QByteArray>("expectedFile");  // null: no file after
    QTest::addColumn<QString>("expectedState");
    QTest::addColumn<qint64>("expectedFileSize");
    QTest::addColumn<QStringList>("logTail");      // "URL" stands for the task's URL

    const int close = int(ScriptedServer::End::Close);
    const QByteArray body10("0123456789");
    const QStringList done{QStringLiteral("URL开始下载"), QStringLiteral("URL的下载完成了")};
    const QStringList failed{QStringLiteral("URL的下载因为请求时出错被关闭了"), QStringLiteral("URL出错了")};
    const QStringList closedEarly{QStringLiteral("URL的下载因为winsock关闭被关闭了")};

    QTest::newRow("plain 200") << QByteArrayList{ok200(body10)} << close << QByteArray() << qint64(0)
                               << qint64(0) << body10 << "ok" << qint64(10) << done;

    QByteArrayList bytewise;
    for (const char c : ok200(body10))
        bytewise.append(QByteArray(1, c));
    QTest::newRow("one byte per piece") << bytewise << close << QByteArray() << qint64(0) << qint64(0)
                                        << body10 << "ok" << qint64(10) << done;
    QTest::newRow("status line split")
        << QByteArrayList{"HTTP/1.1 2", "00 OK\r", "\nContent-Length: 10\r\n\r\n0123456789"} << close
        << QByteArray() << qint64(0) << qint64(0) << body10 << "ok" << qint64(10) << done;
    QTest::newRow("blank line split")
        << QByteArrayList{"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r", "\n0123456789"} << close
        << QByteArray() << qint64(0) << qint64(0) << body10 << "ok" << qint64(10) << done;
    QTest::newRow("200 text inside a 500 body")
        << QByteArrayList{"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 15\r\n\r\nHTTP/1.1 200 OK"}
        << close << QByteArray() << qint64(0) << qint64(0) << QByteArray() << "stop" << qint64(0) << failed;
    QTest::newRow("lower-case content-length")
        << QByteArrayList{"HTTP/1.1 200 OK\r\ncontent-length: 5\r\n\r\nhello"} << close << QByteArray()
        << qint64(0) << qint64(0) << QByteArray("hello") << "ok" << qint64(5) << done;
    QTest::newRow("no blank after the colon")
        << QByteArrayList{"HTTP/1.1 200 OK\r\nContent-Length:12\r\n\r\nabcdefghijkl"} << close
        << QByteArray() << qint64(0) << qint64(0) << QByteArray("abcdefghijkl") << "ok" << qint64(12) << done;
    QTest::newRow("404 with a body")
        << QByteArrayList{"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"} << close
        << QByteArray() << qint64(0) << qint64(0) << QByteArray() << "stop" << qint64(0)
        << QStringList{QStringLiteral("URL文件不存在"), QStringLiteral("URL的下载因为文件未找到！被关闭了")};
    QTest::newRow("404 leaves an old file alone")
        << QByteArrayList{"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"} << close
        << QByteArray("old") << qint64(10) << qint64(3) << QByteArray("old") << "stop" << qint64(10)
        << QStringList{QStringLiteral("URL文件不存在"), QStringLiteral("URL的下载因为文件未找到！被关闭了")};
    QTest::newRow("chunked")
        << QByteArrayList{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel", "lo\r\n6\r\n",
                          " world\r\n0\r\n\r\n"}
        << close << QByteArray() << qint64(0) << qint64(0) << QByteArray("hello world") << "stop"
        << qint64(0) << QStringList{QStringLiteral("URL开始下载"), closedEarly.first()};
    QTest::newRow("200 to a resume: starts over")
        << QByteArrayList{ok200(body10)} << close << QByteArray("0123") << qint64(10) << qint64(4)
        << body10 << "ok" << qint64(10) << done;
    QTest::newRow("200 over an unknown old file")
        << QByteArrayList{ok200(body10)} << close << QByteArray("some older and longer file")
        << qint64(0) << qint64(0) << body10 << "ok" << qint64(10) << done;
    QTest::newRow("206 from the byte asked for")
        << QByteArrayList{"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 4-9/10\r\n"
                          "Content-Length: 6\r\n\r\n456789"}
        << close << QByteArray("0123") << qint64(10) << qint64(4) << body10 << "ok" << qint64(10)
        << QStringList{QStringLiteral("URL开始从4断点续传下载"), QStringLiteral("URL的下载完成了")};
    QTest::newRow("206 from the wrong byte")
        << QByteArrayList{"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 2-9/10\r\n"
                          "Content-Length: 8\r\n\r\n23456789"}
        << close << QByteArray("0123") << qint64(10) << qint64(4) << QByteArray("0123") << "stop"
        << qint64(10) << failed;
    QTest::newRow("header beyond 64 KiB")
        << QByteArrayList{"HTTP/1.1 200 OK\r\nX-Pad: " + QByteArray(70000, 'a') + "\r\n\r\nbody"} << close
        << QByteArray() << qint64(0) << qint64(0) << QByteArray() << "stop" << qint64(0) << failed;
    QTest::newRow("server closes early")
        << QByteArrayList{"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", QByteArray(600, 'x')} << close
        << QByteArray() << qint64(0) << qint64(0) << QByteArray(600, 'x') << "stop" << qint64(1000)
        << closedEarly;
    const QByteArray big = QByteArray(100000, 'b');
    QTest::newRow("last bytes come with the close")
        << QByteArrayList{ok200(big).left(50000), ok200(big).mid(50000)} << close << QByteArray()
        << qint64(0) << qint64(0) << big << "ok" << qint64(100000)
        << QStringList{QStringLiteral("URL的下载完成了")};
    QTest::newRow("reset mid-body")
        << QByteArrayList{"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", QByteArray(600, 'x')}
        << int(ScriptedServer::End::Reset) << QByteArray() << qint64(0) << qint64(0) << QByteArray()
        << "stop" << qint64(-1) << QStringList();
}

void tst_Session::hostileResponses()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(int, end);
    QFETCH(QByteArray, onDisk);
    QFETCH(qint64, fileSize);
    QFETCH(qint64, gotSize);
    QFETCH(QByteArray, expectedFile);
    QFETCH(QString, expectedState);
    QFETCH(qint64, expectedFileSize);
    QFETCH(QStringList, logTail);

    ScriptedServer server;
    ScriptedServer::Script script;
    for (const QByteArray &piece : pieces)
        script.pieces.append({piece, 15});
    script.end = ScriptedServer::End(end);
    server.addScript(script);

    Fixture f;
    const QString url = urlOf(server);
    const int row = f.addTask(url, QStringLiteral("f.bin"), fileSize, gotSize);
    const QString path = f.file(QStringLiteral("f.bin"));
    if (!onDisk.isNull())
        QVERIFY(writeFile(path, onDisk));

    QVERIFY(runTask(f.engine, 1, row));
    QVERIFY(f.engine.slotFree(1));
    QCOMPARE(f.host.states.value(row), expectedState);

    const TaskRecord &record = f.host.tasks(row);
    if (expectedFile.isNull() && !end) {
        QVERIFY(!QFile::exists(path));
    } else if (!expectedFile.isNull()) {
        QCOMPARE(readFile(path), expectedFile);
    }
    // Whatever happened, the counts claim exactly the bytes on disk.
    QCOMPARE(record.GotSize, QFileInfo(path).exists() ? QFileInfo(path).size() : 0);
    QCOMPARE(f.engine.Down(1)->ReceiveBytes, record.GotSize);
    if (expectedFileSize >= 0)
        QCOMPARE(record.FileSize, expectedFileSize);

    // The session ended exactly once, whichever event came last.
    QCOMPARE(f.host.log.filter(QRegularExpression(QStringLiteral("(被关闭了|的下载完成了)$"))).size(), 1);
    const QStringList log = folded(f.host.log);
    QCOMPARE(log.value(0), QStringLiteral("开始下载：") + url);
    QCOMPARE(log.value(1), ConnectLine);
    QStringList tail;
    for (const QString &line : logTail)
        tail.append(QString(line).replace(QStringLiteral("URL"), url));
    QCOMPARE(log.mid(log.size() - tail.size()), tail);
    // The clipboard holds the response as far as its header went.
    QVERIFY(f.host.clipboard.startsWith(QString::fromLatin1(pieces.first().left(8))));
}

void tst_Session::headerSplitAtEveryOffset()
{
    const QByteArray response = ok200("0123456789");
    const qsizetype statusEnd = response.indexOf("\r\n") + 2;
    const qsizetype headerEnd = response.indexOf("\r\n\r\n") + 4;
    for (qsizetype cut = 1; cut < response.size(); ++cut) {
        Fixture f;
        const int row = f.addTask(QStringLiteral("http://h/f.bin"), QStringLiteral("f.bin"));
        const auto session = f.engine.newSession(1);
        session->DownUrl = QStringLiteral("http://h/f.bin");
        QVERIFY(session->AnalyzeUrl());
        session->mFile = f.file(QStringLiteral("f.bin"));
        session->WhichDown = qint16(row);
        session->WhichSocket = 1;
        session->bBusy = true;

        qint64 length1 = 0, length2 = 0;
        const QString first = session->SaveData(cut, response.left(cut), length1);
        const QString second = session->SaveData(response.size() - cut, response.mid(cut), length2);
        const QByteArray where = "cut at " + QByteArray::number(cut);
        QVERIFY2(first == (cut < statusEnd ? QString() : QStringLiteral("200")), where);
        QVERIFY2(second == (cut < headerEnd ? QStringLiteral("200") : QString()), where);
        QVERIFY2(length1 + length2 == 10 && session->mFlen == 10, where);
        QVERIFY2(readFile(session->mFile) == "0123456789", where);
        QVERIFY2(session->ReceiveBytes == 10 && f.host.tasks(row).GotSize == 10, where);
    }
}

void tst_Session::stopWhileHeaderArrives()
{
    ScriptedServer server;
    server.addScript(ScriptedServer::split("HTTP/1.1 200 OK\r\n", 0, 0, ScriptedServer::End::KeepOpen));
    Fixture f;
    const QString url = urlOf(server);
    const int row = f.addTask(url, QStringLiteral("f.bin"));
    std::shared_ptr<clsDown> session;
    QVERIFY(startTask(f.engine, 1, row, &session));
    QTRY_VERIFY(f.host.log.contains(url + QStringLiteral("开始下载")));

    // A double-click while the header is still arriving: the next arrival
    // that does not end the header ends the session.
    session->bCancel = true;
    f.engine.DownRow[1] = 0;
    server.sendToAll("Content-Length: 3\r\n");
    QVERIFY(waitUntilEnded(session));
    QCOMPARE(f.host.log.last(), url + QStringLiteral("的下载因为用户取消被关闭了"));
    QCOMPARE(f.host.states.value(row), QStringLiteral("stop"));
    QVERIFY(f.engine.slotFree(1));
    QVERIFY(!QFile::exists(f.file(QStringLiteral("f.bin"))));
}

void tst_Session::writeFailureEndsTheSession()
{
    ScriptedServer server;
    server.addScript(ScriptedServer::split(ok200(QByteArray(5000, 'w')), 1000, 10));
    Fixture f;
    const QString url = urlOf(server);
    const int row = f.host.addTask(url, f.file(QStringLiteral("missing/folder/f.bin")));
    QVERIFY(runTask(f.engine, 1, row));
    QCOMPARE(f.host.log.last(), url + QStringLiteral("的下载因为写入文件出错被关闭了"));
    QCOMPARE(f.host.states.value(row), QStringLiteral("stop"));
    QCOMPARE(f.host.tasks(row).GotSize, qint64(0));
    QCOMPARE(f.engine.Down(1)->ReceiveBytes, qint64(0));
    QVERIFY(f.engine.slotFree(1));
}

void tst_Session::connectTimeout_data()
{
    QTest::addColumn<bool>("viaProxy");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<qint64>("lastSecond");
    QTest::newRow("direct") << false << QStringLiteral("连接服务器时间过长") << qint64(21);
    QTest::newRow("proxy") << true << QStringLiteral("连接代理服务器时间过长") << qint64(11);
}

void tst_Session::connectTimeout()
{
    QFETCH(bool, viaProxy);
    QFETCH(QString, reason);
    QFETCH(qint64, lastSecond);

    Fixture f([](int index, QObject *parent) { return new NeverConnectSocket(index, parent); });
    const QString url = QStringLiteral("http://files.invalid/f.bin");
    const int row = f.addTask(url, QStringLiteral("f.bin"));
    if (viaProxy) {
        f.host.tasks(row).ProxyHost = QStringLiteral("proxy.invalid");
        f.host.tasks(row).ProxyPort = 3128;
    }
    // Every reading of the clock lets one second pass.
    f.host.clockStepMs = 1000;
    std::shared_ptr<clsDown> session;
    QVERIFY(!startTask(f.engine, 1, row, &session));
    // Given up at the first reading past the limit, not before.
    QCOMPARE(f.host.clockMs / 1000 - 1, lastSecond);
    QCOMPARE(f.engine.Wsock(1).RemoteHost,
             viaProxy ? QStringLiteral("proxy.invalid") : QStringLiteral("files.invalid"));
    QCOMPARE(f.engine.Wsock(1).RemotePort, quint16(viaProxy ? 3128 : 80));
    QCOMPARE(f.host.log.mid(1), (QStringList{url + QStringLiteral("的下载因为") + reason + QStringLiteral("被关闭了"),
                                             QStringLiteral("Wisock1连接服务器失败！！")}));
    QVERIFY(f.engine.slotFree(1));
    QVERIFY(!session->bBusy);
}

void tst_Session::errorDuringWaitLogsTwice()
{
    quint16 refused = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        refused = probe.serverPort();
    }
    Fixture f;
    const QString url = QStringLiteral("http://127.0.0.1:%1/f.bin").arg(refused);
    const int row = f.addTask(url, QStringLiteral("f.bin"));
    QVERIFY(!startTask(f.engine, 1, row));
    QCOMPARE(f.host.log, (QStringList{QStringLiteral("开始下载：") + url,
                                      url + QStringLiteral("的下载因为Winsock出错被关闭了"),
                                      url + QStringLiteral("的下载因为连接服务器时间过长被关闭了"),
                                      QStringLiteral("Wisock1连接服务器失败！！")}));
    QVERIFY(f.engine.slotFree(1));
    QVERIFY(!QFile::exists(f.file(QStringLiteral("f.bin"))));
}

void tst_Session::stopDuringWait()
{
    Fixture f([](int index, QObject *parent) { return new NeverConnectSocket(index, parent); });
    const QString url = QStringLiteral("http://files.invalid/f.bin");
    const int row = f.addTask(url, QStringLiteral("f.bin"));
    // A double-click on the same row while the wait runs.
    QTimer::singleShot(20, &f.engine, [&f] {
        f.engine.Down(1)->bCancel = true;
        f.engine.DownRow[1] = 0;
    });
    QVERIFY(!startTask(f.engine, 1, row));
    QCOMPARE(f.host.log.value(1), url + QStringLiteral("的下载因为连接服务器时间过长被关闭了"));
    QCOMPARE(f.host.clockMs, qint64(0));
    QVERIFY(f.engine.slotFree(1));
}

void tst_Session::newSessionTakesTheSlotDuringAWait()
{
    ScriptedServer server;
    // The second session's transfer completes but its connection stays open.
    server.addScript(ScriptedServer::split(ok200("0123456789"), 0, 0, ScriptedServer::End::KeepOpen));
    GateSocket *gate = nullptr;
    Fixture f([&gate](int index, QObject *parent) -> DownSocket * {
        if (index != 1)
            return new DownSocket(index, parent);
        gate = new GateSocket(index, parent);
        return gate;
    });
    const QString urlA = urlOf(server, QStringLiteral("/a.bin"));
    const QString urlB = urlOf(server, QStringLiteral("/b.bin"));
    const int rowA = f.addTask(urlA, QStringLiteral("a.bin"));
    const int rowB = f.addTask(urlB, QStringLiteral("b.bin"));

    gate->gateShut = true;
    std::shared_ptr<clsDown> b;
    bool bStarted = false;
    bool slotWasFree = false;
    QTimer::singleShot(0, &f.engine, [&] {
        // A's connection fails, and at once the slot is started again.
        f.engine.Wsock_Error(1, 0, QString());
        slotWasFree = f.engine.slotFree(1);
        gate->gateShut = false;
        bStarted = startTask(f.engine, 1, rowB, &b);
    });
    std::shared_ptr<clsDown> a;
    QVERIFY(!startTask(f.engine, 1, rowA, &a));
    QVERIFY(slotWasFree);
    QVERIFY(bStarted);

    // A's late end left B's slot, socket and row alone.
    QCOMPARE(f.engine.Down(1), b);
    QVERIFY(b->bBusy);
    QCOMPARE(int(f.engine.DownRow[1]), rowB);
    QCOMPARE(f.host.states.value(rowB), QStringLiteral("start"));
    QTRY_COMPARE(f.host.tasks(rowB).GotSize, qint64(10));
    QCOMPARE(f.engine.Wsock(1).State(), int(DownSocket::Connected));
    QCOMPARE(server.connections(), 2);

    const QStringList aLines = f.host.log.filter(urlA + QStringLiteral("的下载因为"));
    QCOMPARE(aLines, (QStringList{urlA + QStringLiteral("的下载因为Winsock出错被关闭了"),
                                  urlA + QStringLiteral("的下载因为连接服务器时间过长被关闭了")}));

    f.engine.CloseSocket(1, QStringLiteral("用户取消"));
    QCOMPARE(f.host.log.last(), urlB + QStringLiteral("的下载完成了"));
    QCOMPARE(f.host.states.value(rowB), QStringLiteral("ok"));
    QCOMPARE(readFile(f.file(QStringLiteral("b.bin"))), QByteArray("0123456789"));
    QVERIFY(!QFile::exists(f.file(QStringLiteral("a.bin"))));
}

void tst_Session::startOnOtherSlotInsideAWait()
{
    ScriptedServer server;
    server.addScript(ScriptedServer::split(ok200("first body"), 4, 5));
    GateSocket *gate = nullptr;
    Fixture f([&gate](int index, QObject *parent) -> DownSocket * {
        if (index != 1)
            return new DownSocket(index, parent);
        gate = new GateSocket(index, parent);
        return gate;
    });
    const QString urlA = urlOf(server, QStringLiteral("/a.bin"));
    const QString urlB = urlOf(server, QStringLiteral("/b.bin"));
    const int rowA = f.addTask(urlA, QStringLiteral("a.bin"));
    const int rowB = f.addTask(urlB, QStringLiteral("b.bin"));

    gate->gateShut = true;
    std::shared_ptr<clsDown> b;
    bool bStarted = false;
    QTimer::singleShot(0, &f.engine, [&] {
        // B's whole connect wait runs inside A's.
        bStarted = startTask(f.engine, 2, rowB, &b);
        gate->gateShut = false;
    });
    std::shared_ptr<clsDown> a;
    QVERIFY(startTask(f.engine, 1, rowA, &a));
    QVERIFY(bStarted);
    QVERIFY(waitUntilEnded(a));
    QVERIFY(waitUntilEnded(b));
    QCOMPARE(f.host.states.value(rowA), QStringLiteral("ok"));
    QCOMPARE(f.host.states.value(rowB), QStringLiteral("ok"));
    QCOMPARE(readFile(f.file(QStringLiteral("a.bin"))), QByteArray("first body"));
    QCOMPARE(readFile(f.file(QStringLiteral("b.bin"))), QByteArray("first body"));
    QCOMPARE(server.requests().size(), 2);
    QCOMPARE(server.requests().value(0).left(11) + server.requests().value(1).left(11),
             QByteArray("GET /a.bin GET /b.bin "));
    QVERIFY(f.host.log.contains(QStringLiteral("Winsock2与127.0.0.1连接成功！")));
}

void tst_Session::closeSocketLines_data()
{
    QTest::addColumn<qint64>("fileSize");
    QTest::addColumn<qint64>("gotSize");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("state");

    const QString url = QStringLiteral("http://h/f.bin");
    QTest::newRow("one byte short") << qint64(1000) << qint64(999) << QStringLiteral("winsock关闭")
                                    << url + QStringLiteral("的下载完成了") << "ok";
    QTest::newRow("all bytes") << qint64(1000) << qint64(1000) << QStringLiteral("winsock关闭")
                               << url + QStringLiteral("的下载完成了") << "ok";
    QTest::newRow("error after all bytes") << qint64(1000) << qint64(1000) << QStringLiteral("Winsock出错")
                                           << url + QStringLiteral("的下载完成了") << "ok";
    QTest::newRow("unknown size") << qint64(0) << qint64(5000) << QStringLiteral("winsock关闭")
                                  << url + QStringLiteral("的下载因为winsock关闭被关闭了") << "stop";
    QTest::newRow("closed at 600") << qint64(1000) << qint64(600) << QStringLiteral("winsock关闭")
                                   << url + QStringLiteral("的下载因为winsock关闭被关闭了") << "stop";
    QTest::newRow("beyond 2 GiB") << qint64(3000000000) << qint64(2999999999) << QStringLiteral("x")
                                  << url + QStringLiteral("的下载完成了") << "ok";
}

void tst_Session::closeSocketLines()
{
    QFETCH(qint64, fileSize);
    QFETCH(qint64, gotSize);
    QFETCH(QString, reason);
    QFETCH(QString, line);
    QFETCH(QString, state);

    Fixture f;
    const int row = f.addTask(QStringLiteral("http://h/f.bin"), QStringLiteral("f.bin"), fileSize, gotSize);
    const auto session = f.engine.newSession(2);
    session->WhichDown = qint16(row);
    session->WhichSocket = 2;
    session->bBusy = true;
    f.engine.DownRow[2] = qint16(row);
    f.engine.CloseSocket(2, reason);
    QCOMPARE(f.host.log, QStringList{line});
    QCOMPARE(f.host.states.value(row), state);
    QVERIFY(!session->bBusy);
    QVERIFY(f.engine.slotFree(2));
    QCOMPARE(f.host.tasks(row).GotSize, gotSize);

    // An idle slot has no row to mark and nothing to log.
    f.engine.CloseSocket(1, reason);
    QCOMPARE(f.host.log.size(), 1);
}

void tst_Session::elapsedTime_data()
{
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<QString>("shown");
    QTest::newRow("0 s") << qint64(0) << "00:00:00";
    QTest::newRow("59.999 s") << qint64(59999) << "00:00:59";
    QTest::newRow("3725 s") << qint64(3725000) << "01:02:05";
    QTest::newRow("86400 s") << qint64(86400000) << "00:00:00";
    QTest::newRow("90061 s") << qint64(90061000) << "01:01:01";
    QTest::newRow("clock behind the start") << qint64(-5000) << "00:00:00";
}

void tst_Session::elapsedTime()
{
    QFETCH(qint64, elapsedMs);
    QFETCH(QString, shown);

    Fixture f;
    const int row = f.addTask(QStringLiteral("http://h/f.bin"), QStringLiteral("f.bin"));
    f.engine.Down(2)->StartTime = 1000000;
    f.engine.DownRow[2] = qint16(row);
    f.host.clockMs = 1000000 + elapsedMs;
    f.engine.Timer1Tick();
    QCOMPARE(f.host.text(row, 3), shown);

    // A slot without a row writes no time.
    f.engine.DownRow[2] = 0;
    f.host.texts.clear();
    f.engine.Timer1Tick();
    QVERIFY(f.host.texts.isEmpty());
}

void tst_Session::activityDots()
{
    Fixture f;
    const QRgb black = DownEngine::DotBlack, red = DownEngine::DotRed, green = DownEngine::DotGreen;
    QCOMPARE(red, QRgb(0xffff0000));
    QCOMPARE(green, QRgb(0xff00ff00));

    f.engine.Timer1Tick();   // both slots idle
    f.engine.Down(1)->bBusy = true;
    for (int tick = 0; tick < 14; ++tick)
        f.engine.Timer1Tick();
    f.engine.Down(1)->bBusy = false;
    f.engine.Timer1Tick();

    QVector<FakeHost::Dot> slot1, slot2;
    for (const FakeHost::Dot &dot : f.host.dots) {
        QCOMPARE(dot.radius, 50);
        (dot.y == 180 ? slot1 : slot2).append(dot);
    }
    QCOMPARE(slot1.size(), 16);
    QCOMPARE(slot2.size(), 16);
    const QVector<QPair<int, QRgb>> expected{
        {120, black}, {240, black}, {360, black}, {480, black}, {600, black}, {720, black},
        {840, black}, {120, red},   {240, red},   {360, red},   {480, red},   {600, red},
        {720, red},   {840, red},   {120, green}, {120, green}};
    for (int i = 0; i < expected.size(); ++i) {
        QCOMPARE(slot1[i].x, expected[i].first);
        QCOMPARE(slot1[i].fill, expected[i].second);
        QCOMPARE(slot2[i].x, 120);
        QCOMPARE(slot2[i].y, 300);
        QCOMPARE(slot2[i].fill, black);
    }
}

QTEST_GUILESS_MAIN(tst_Session)
#include "tst_session.moc"
