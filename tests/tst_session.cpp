// One download session against a scripted loopback server: the request it
// sends, how it takes hostile responses, how it ends, and the connect wait
// with everything that may run inside it.
#include "support/downloadrun.h"
#include "support/fakehost.h"
#include "support/realservers.h"
#include "support/scriptedserver.h"
#include "support/testsockets.h"

#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>

static QByteArray ok200(const QByteArray &body, qint64 length = -1) { return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(length < 0 ? body.size() : length) + "\r\n\r\n" + body; }
static QByteArray from206(const QByteArray &file, int from) { return "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + QByteArray::number(from) + "-" + QByteArray::number(file.size() - 1) + "/" + QByteArray::number(file.size()) + "\r\n\r\n" + file.mid(from); }
static QByteArray chunked(const QByteArray &body, int size) { QByteArray r = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"; for (int at = 0; at < body.size(); at += size) r += QByteArray::number(qMin<qsizetype>(size, body.size() - at), 16) + "\r\n" + body.mid(at, size) + "\r\n"; return r + "0\r\n\r\n"; }
static QByteArray readFile(const QString &path) { QFile file(path); return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(); }
// "URL" in an expected line stands for the task's URL.
static QStringList withUrl(QStringList lines, const QString &url) { return lines.replaceInStrings(QStringLiteral("URL"), url); }
static QString urlOn(const ScriptedServer &server, const QString &name) { return QStringLiteral("http://127.0.0.1:%1/").arg(server.port()) + name; }
// As a double-click on the row does.
static void userStop(DownEngine &engine, clsDown &s) { s.bCancel = true, engine.DownRow[1] = 0; engine.CloseSocket(1, QStringLiteral("用户取消")); }

// A response in pieces (or its one piece cut in two at every offset, one run
// each) against what was on disk; what is on disk after (null: no file), the
// row's state and the log's last lines.
// A second response, when given, is a resumption by a new session; a
// connection kept open is stopped by the user once the request is in.
// The request, when given, is checked byte for byte ("%1": the server's
// port); one for a proxy goes through the server as the proxy, for user "u"
// with password "pw9", and the URL's host is never reached.
struct Hostile { QByteArrayList pieces; QByteArray onDisk; qint64 fileSize, gotSize; QByteArray file; QString state; QStringList logTail; bool everyCut = false; QString name = "f.bin"; QByteArray resume = {}; ScriptedServer::End end = ScriptedServer::End::Close; QByteArray request = {}; };
// How a connect wait ends without a connection; lastSecond -1: the clock stands still.
struct Wait { QString how, proxyHost; int lastSecond; QStringList log; };
struct Close { qint64 fileSize, gotSize; QString reason, line, state; };
Q_DECLARE_METATYPE(Hostile)
Q_DECLARE_METATYPE(Wait)
Q_DECLARE_METATYPE(Close)

class tst_Session : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void hostileResponses_data()
    {
        QTest::addColumn<Hostile>("c");
        const QStringList done{"URL开始下载", "URL的下载完成了"}, failed{"URL的下载因为请求时出错被关闭了", "URL出错了"}, closedEarly{"URL的下载因为winsock关闭被关闭了"};
        QByteArray body = "0123456789", bad(5000, 'w'), src(10000, '\0'), garbage(4096, '\0');
        for (int i = 0; i < src.size(); ++i) src[i] = char(i * 7 + i / 251);
        QRandomGenerator(2007).fillRange(reinterpret_cast<quint32 *>(garbage.data()), garbage.size() / 4);
        QTest::newRow("header and body cut at every offset of the first 200 bytes") << Hostile{{ok200(src)}, {}, 0, 0, src, "ok", done, true};
        for (const int at : {1000, 5000, 9900})
            QTest::addRow("closed at %d of 10000, then 206", at) << Hostile{{ok200(src.left(at), src.size())}, {}, 0, 0, src, "ok", {QStringLiteral("URL开始从%1断点续传下载").arg(at), "URL的下载完成了"}, false, "f.bin", from206(src, at)};
        // The empty piece puts a pause between the body and the reset.
        QTest::newRow("reset mid-body, then 206") << Hostile{{ok200(src.left(5000), src.size()), ""}, {}, 0, 0, src, "ok", {"URL开始从5000断点续传下载", "URL的下载完成了"}, false, "f.bin", from206(src, 5000), ScriptedServer::End::Reset};
        QTest::newRow("negative count starts over") << Hostile{{ok200(body)}, {}, 0, -7, body, "ok", done};
        const QByteArray common = "Accept: */*\r\nAccept-Language: zh-cn\r\nAccept-Encoding: identity\r\nUser-Agent: Zipvane1.0\r\n", close = "Connection: close\r\n\r\n";
        QTest::newRow("Range ignored: 200 starts over") << Hostile{{ok200(src)}, src.left(4000), src.size(), 4000, src, "ok", done, false, "f.bin", {}, ScriptedServer::End::Close, "GET /f.bin HTTP/1.1\r\n" + common + "Host: 127.0.0.1:%1\r\nRange: bytes=4000-\r\n" + close};
        QTest::newRow("200 over an older, longer file restarts it") << Hostile{{ok200(body)}, "some older and longer file", 0, 0, body, "ok", done};
        QTest::newRow("206 from the wrong byte, through a proxy") << Hostile{{"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 2-9/10\r\nContent-Length: 8\r\n\r\n23456789"}, "0123", 10, 4, "0123", "stop", failed, false, "f.bin", {}, ScriptedServer::End::Close,
                                                                    "GET http://files.invalid:8080/f.bin?x=1 HTTP/1.1\r\n" + common + "Host: files.invalid:8080\r\nProxy-Authorization: Basic dTpwdzk=\r\nRange: bytes=4-\r\n" + close};
        for (const int size : {1, 7, 4096})   // the last chunk split across two arrivals
            QTest::addRow("chunks of %d", size) << Hostile{{chunked(src, size).chopped(3), chunked(src, size).right(3)}, {}, 0, 0, src, "stop", QStringList{"URL开始下载"} + closedEarly};
        QTest::newRow("Content-Length shorter than the body") << Hostile{{ok200(src, 5000)}, {}, 0, 0, src, "ok", done};
        QTest::newRow("Content-Length longer than the body") << Hostile{{ok200(src, 20000)}, {}, 0, 0, src, "stop", QStringList{"URL开始下载"} + closedEarly};
        QTest::newRow("header that never ends") << Hostile{{"HTTP/1.1 200 OK\r\n" + QByteArray("X-Pad: 0123456789\r\n").repeated(5000)}, {}, 0, 0, {}, "stop", failed};
        QTest::newRow("1 MiB header line") << Hostile{{"HTTP/1.1 200 OK\r\nX-Pad: " + QByteArray(1 << 20, 'a') + "\r\n\r\nbody"}, {}, 0, 0, {}, "stop", failed};
        QTest::newRow("binary garbage") << Hostile{{garbage}, {}, 0, 0, {}, "stop", closedEarly};
        QTest::newRow("200 text inside a 500 body") << Hostile{{"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 15\r\n\r\nHTTP/1.1 200 OK"}, {}, 0, 0, {}, "stop", failed};
        QTest::newRow("404 with a body, no file") << Hostile{{"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"}, {}, 0, 0, {}, "stop", {"URL文件不存在", "URL的下载因为文件未找到！被关闭了"}};
        QTest::newRow("nothing sent, connection kept open: stop") << Hostile{{}, {}, 0, 0, {}, "stop", {"URL的下载因为用户取消被关闭了"}, false, "f.bin", {}, ScriptedServer::End::KeepOpen};
        // Counts stay equal to the (absent) file when writing fails.
        // /proc/version: a file no one may open for writing, root included (tests run as root).
        for (const char *target : {"missing/f.bin", "/dev/full", "/proc/version"})
            QTest::addRow("write failure: %s", target) << Hostile{{ok200(bad).left(2000), ok200(bad).mid(2000)}, {}, 0, 0, {}, "stop", {"URL的下载因为写入文件出错被关闭了"}, false, target};
    }
    void hostileResponses()
    {
        QFETCH(Hostile, c);
        QList<QByteArrayList> runs{c.pieces};
        for (int cut = 1; c.everyCut && cut <= 200; ++cut) runs.append({c.pieces.first().left(cut), c.pieces.first().mid(cut)});
        for (const QByteArrayList &run : std::as_const(runs)) {
            ScriptedServer server(ScriptedServer::LowPort);   // a proxy's port is below 32768
            ScriptedServer::Script script{{}, c.end};
            for (const QByteArray &piece : run) script.pieces.append({piece, 15});
            server.addScript(script);
            server.addScript(ScriptedServer::split(c.resume));   // used only by a resumption
            EngineFixture f;
            const bool proxy = c.request.startsWith("GET http:");
            const QString url = proxy ? QStringLiteral("http://files.invalid:8080/f.bin?x=1") : urlOn(server, QStringLiteral("f.bin")), path = f.file(c.name);
            const int row = f.addTask(url, c.name, c.fileSize, c.gotSize);
            std::tie(f.host.tasks(row).ProxyHost, f.host.tasks(row).ProxyPort, f.host.tasks(row).ProxyUser, f.host.tasks(row).ProxyPass) = std::tuple(proxy ? QStringLiteral("127.0.0.1") : QString(), qint16(server.port()), QStringLiteral("u"), QStringLiteral("pw9"));
            QFile old(path);
            QVERIFY(c.onDisk.isNull() || (old.open(QIODevice::WriteOnly) && old.write(c.onDisk) == c.onDisk.size() && old.flush()));
            std::shared_ptr<clsDown> s;
            QVERIFY(startTask(f.engine, 1, row, &s));
            if (c.end == ScriptedServer::End::KeepOpen && QTest::qWaitFor([&] { return server.requests().value(0).endsWith("\r\n\r\n"); }))
                userStop(f.engine, *s);
            QVERIFY(waitUntilEnded(s) && f.engine.slotFree(1));
            QVERIFY(c.resume.isEmpty() || (runTask(f.engine, 1, row) && f.engine.slotFree(1)));
            QCOMPARE(f.host.states.value(row), c.state);
            if (!c.request.isNull())
                QCOMPARE(server.requests(), QList<QByteArray>{QByteArray(c.request).replace("%1", QByteArray::number(server.port()))});
            if (!QFileInfo(c.name).isAbsolute())   // a system file or device is not ours to read back
                QCOMPARE(std::pair(QFile::exists(path), readFile(path)), std::pair(!c.file.isNull(), c.file));
            // Whatever happened, the counts claim exactly the bytes on disk.
            QCOMPARE((QList<qint64>{f.host.tasks(row).GotSize, f.engine.Down(1)->ReceiveBytes}), QList<qint64>(2, c.file.size()));
            // The session ended exactly once, whichever event came last.
            QCOMPARE(f.host.log.filter(QRegularExpression(QStringLiteral("(被关闭了|的下载完成了)$"))).size(), c.resume.isEmpty() ? 1 : 2);
            // A header spread over several arrivals logs its status once per
            // arrival; how TCP groups the pieces is not ours, so repeats fold.
            QStringList log = f.host.log;
            log.removeDuplicates();
            QCOMPARE(log.first() + log.mid(log.size() - c.logTail.size()).join(u'|'), QStringLiteral("Winsock1与127.0.0.1连接成功！") + withUrl(c.logTail, url).join(u'|'));
            // The password goes to the proxy only, never into the log, in clear or encoded.
            QVERIFY(!log.join(u'\n').contains(QStringLiteral("Basic")) && !log.join(u'\n').contains(QStringLiteral("pw9")));
            // The clipboard holds the response as far as its header went.
            QVERIFY(!run.value(0).startsWith("HTTP") || f.host.clipboard.startsWith(QString::fromLatin1(run.first().left(8))));
        }
    }

    void connectWait_data()
    {
        QTest::addColumn<Wait>("c");
        QTest::newRow("time-out direct") << Wait{"timeout", "", 21, {"URL的下载因为连接服务器时间过长被关闭了"}};
        QTest::newRow("time-out proxy") << Wait{"timeout", "proxy.invalid", 11, {"URL的下载因为连接代理服务器时间过长被关闭了"}};
        QTest::newRow("error during the wait") << Wait{"refused", "", -1, {"URL的下载因为Winsock出错被关闭了", "URL的下载因为连接服务器时间过长被关闭了"}};
        QTest::newRow("stop during the wait") << Wait{"stop", "", -1, {"URL的下载因为连接服务器时间过长被关闭了"}};
        QTest::newRow("error, and the slot restarted during the wait") << Wait{"restart", "", -1, {"URL的下载因为Winsock出错被关闭了", "URL的下载因为连接服务器时间过长被关闭了"}};
    }
    void connectWait()
    {
        QFETCH(Wait, c);
        const bool refused = c.how == QLatin1String("refused"), restart = c.how == QLatin1String("restart");
        ScriptedServer server;   // for the restart: the task started anew, B, finds it
        server.addScript(ScriptedServer::split(ok200("0123456789"), 0, 0, ScriptedServer::End::KeepOpen));
        GateSocket *gate = nullptr;
        EngineFixture f([&](int index, QObject *parent) -> DownSocket * { return restart && index == 1 ? gate = new GateSocket(index, parent) : refused || restart ? new DownSocket(index, parent) : new NeverConnectSocket(index, parent); });
        const QString url = refused ? QStringLiteral("http://127.0.0.1:%1/f.bin").arg(freeLoopbackPort()) : restart ? urlOn(server, QStringLiteral("a.bin")) : QStringLiteral("http://files.invalid/f.bin");
        const int row = f.addTask(url, QStringLiteral("f.bin")), rowB = f.addTask(urlOn(server, QStringLiteral("b.bin")), QStringLiteral("b.bin"));
        f.host.tasks(row).ProxyHost = c.proxyHost, f.host.tasks(row).ProxyPort = 3128;   // no host: direct, whatever the port
        f.host.clockStepMs = c.lastSecond < 0 ? 0 : 1000;   // every reading of the clock lets a second pass
        std::shared_ptr<clsDown> b;
        if (c.how == QLatin1String("stop"))   // a double-click on the row while the wait runs
            QTimer::singleShot(0, &f.engine, [&f] { f.engine.Down(1)->bCancel = true; f.engine.DownRow[1] = 0; });
        if (restart)   // the connection fails inside the wait, and at once the slot is started again with B
            QTimer::singleShot(0, &f.engine, [&] { f.engine.Wsock_Error(1, 0, QString()); QVERIFY(f.engine.slotFree(1)); gate->gateShut = false; QVERIFY(startTask(f.engine, 1, rowB, &b)); });
        QVERIFY(!startTask(f.engine, 1, row));
        // Given up at the first reading past the limit, not before.
        QCOMPARE(f.host.clockMs / 1000 - 1, qint64(c.lastSecond));
        QCOMPARE(restart ? f.host.log.filter(url) : f.host.log, withUrl(c.log, url));
        QVERIFY(restart || (f.engine.slotFree(1) && !f.engine.Down(1)->bBusy && !QFile::exists(f.file(QStringLiteral("f.bin")))));
        if (!restart) return;
        // The old wait's late end leaves B's slot, socket and row alone.
        QTRY_COMPARE(f.host.tasks(rowB).GotSize, qint64(10));
        QVERIFY(b->bBusy && f.engine.Down(1) == b && f.engine.DownRow[1] == rowB && f.engine.Wsock(1).State() == DownSocket::Connected);
        f.engine.CloseSocket(1, QStringLiteral("用户取消"));
        QCOMPARE(f.host.log.last() + readFile(f.file(QStringLiteral("b.bin"))), f.host.tasks(rowB).Url + QStringLiteral("的下载完成了0123456789"));
    }

    // A row started and stopped 1000 times lets go of every socket, file
    // and session, and its counts still match its file.
    void startStopCycles()
    {
        ScriptedServer server;
        server.addScript(ScriptedServer::split(ok200(QByteArray(1000, 'x'), 100000), 0, 0, ScriptedServer::End::KeepOpen));
        EngineFixture f;
        const int row = f.addTask(urlOn(server, QStringLiteral("f.bin")), QStringLiteral("f.bin"), 100000);
        const qsizetype filesBefore = QDir(QStringLiteral("/proc/self/fd")).count();
        std::vector<std::weak_ptr<clsDown>> sessions;
        for (int cycle = 0; cycle < 1000; ++cycle) {
            std::shared_ptr<clsDown> s;
            QVERIFY(startTask(f.engine, 1, row, &s));
            sessions.push_back(s);
            if (cycle % 10 == 0) QTRY_VERIFY(s->ReceiveBytes == 1000);   // now and then stopped only once the body flows
            userStop(f.engine, *s);
        }
        f.engine.newSession(1);
        QVERIFY(std::all_of(sessions.begin(), sessions.end(), [](const auto &s) { return s.expired(); }));
        QTRY_COMPARE(QDir(QStringLiteral("/proc/self/fd")).count(), filesBefore);
        QCOMPARE(f.host.tasks(row).GotSize, QFileInfo(f.file(QStringLiteral("f.bin"))).size());
    }

    void closeSocketLines_data()
    {
        QTest::addColumn<Close>("c");
        QTest::newRow("one byte short") << Close{1000, 999, "winsock关闭", "URL的下载完成了", "ok"};
        QTest::newRow("unknown size") << Close{0, 5000, "winsock关闭", "URL的下载因为winsock关闭被关闭了", "stop"};
        QTest::newRow("closed at 600") << Close{1000, 600, "winsock关闭", "URL的下载因为winsock关闭被关闭了", "stop"};
        QTest::newRow("beyond 2 GiB") << Close{3000000000, 2999999999, "x", "URL的下载完成了", "ok"};
    }
    void closeSocketLines()
    {
        QFETCH(Close, c);
        EngineFixture f;
        const int row = f.addTask(QStringLiteral("http://h/f.bin"), QStringLiteral("f.bin"), c.fileSize, c.gotSize);
        const auto session = f.engine.newSession(2);
        session->WhichDown = qint16(row), session->WhichSocket = 2, session->bBusy = true, f.engine.DownRow[2] = qint16(row);
        f.engine.CloseSocket(2, c.reason);
        f.engine.CloseSocket(1, c.reason);   // an idle slot: no row to mark, nothing to log
        QCOMPARE(f.host.log, withUrl({c.line}, QStringLiteral("http://h/f.bin")));
        QCOMPARE(f.host.states.value(row), c.state);
        QVERIFY(!session->bBusy && f.engine.slotFree(2));
    }

    // The time column of the row on slot 2 (its session idle), and the drop
    // window's dots over 16 ticks with slot 1 busy for all but the first and last.
    void timer_data()
    {
        QTest::addColumn<qint64>("elapsedMs");
        QTest::addColumn<QString>("shown");
        QTest::newRow("59.999 s") << 59999ll << "00:00:59";
        QTest::newRow("3725 s") << 3725000ll << "01:02:05";
        QTest::newRow("90061 s") << 90061000ll << "01:01:01";
        QTest::newRow("clock behind the start") << -5000ll << "00:00:00";
    }
    void timer()
    {
        QFETCH(qint64, elapsedMs);
        QFETCH(QString, shown);
        EngineFixture f;
        const int row = f.addTask(QStringLiteral("http://h/f.bin"), QStringLiteral("f.bin"));
        f.engine.Down(2)->StartTime = 1000000, f.engine.DownRow[2] = qint16(row), f.host.clockMs = 1000000 + elapsedMs;
        for (int tick = 0; tick < 16; ++tick) f.engine.Down(1)->bBusy = tick > 0 && tick < 15, f.engine.Timer1Tick();
        QCOMPARE(f.host.texts, decltype(f.host.texts)({{{row, 3}, shown}}));   // and nothing for slot 1, which has no row
        // Slot 1 (y 180) walks x = 120..840 black, then red, then settles green; idle slot 2 (y 300) stays black at 120.
        QList<std::tuple<int, int, int, QRgb>> dots, expected;
        for (const FakeHost::Dot &dot : std::as_const(f.host.dots)) dots.append({dot.x, dot.y, dot.radius, dot.fill});
        for (int i = 0; i < 16; ++i) expected << std::tuple(i < 14 ? 120 + i % 7 * 120 : 120, 180, 50, i < 7 ? 0xff000000u : i < 14 ? 0xffff0000u : 0xff00ff00u) << std::tuple(120, 300, 50, 0xff000000u);
        QCOMPARE(dots, expected);
    }
};

QTEST_GUILESS_MAIN(tst_Session)
#include "tst_session.moc"
