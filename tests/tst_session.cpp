// One download session against a scripted loopback server: the request it
// sends, how it takes hostile responses, how it ends, the connect wait with
// everything that may run inside it, and the progress timer.
#include "support/fakehost.h"
#include "support/realservers.h"
#include "support/scriptedserver.h"
#include "support/testsockets.h"

#include <csignal>
#include <sys/resource.h>

using End = ScriptedServer::End;

static QByteArray ok200(const QByteArray &body, qint64 length = -1)
{
    const QByteArray n = QByteArray::number(length < 0 ? body.size() : length);
    return "HTTP/1.1 200 OK\r\nContent-Length: " + n + "\r\n\r\n" + body;
}

// The rest of `file` from byte `from`, said to be so in a Content-Range line when `range`.
static QByteArray from206(const QByteArray &file, int from, bool range = true)
{
    const QString line
        = QString("Content-Range: bytes %1-%2/%3\r\n").arg(from).arg(file.size() - 1);
    return "HTTP/1.1 206 Partial Content\r\n" + (range ? line.arg(file.size()).toLatin1() : "")
           + "\r\n" + file.mid(from);
}

static QByteArray chunked(const QByteArray &body, int size)
{
    QByteArray r = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int at = 0; at < body.size(); at += size)
        r += QByteArray::number(int(qMin(size, body.size() - at)), 16) + "\r\n"
             + body.mid(at, size) + "\r\n";
    return r + "0\r\n\r\n";
}

// A response in arrivals 15 ms apart against the task's state before it;
// the file, the row's state and the log's last lines ("URL": the task's URL)
// after it.
struct Hostile {
    QByteArrayList pieces;
    QByteArray file;  // null: no file
    QString state;
    QStringList logTail;
    QByteArray onDisk = {};  // null: no file
    qint64 fileSize = 0, gotSize = 0;
    QByteArray resume = {};  // the answer to a second start, when there is one
    End end = End::Close;    // kept open: the user stops it once the request is in
    // Byte for byte ("%1": the server's port). One for a proxy goes through
    // the server as the proxy, for user "u" with password "pw9".
    QByteArray request = {};
    QString name = "f.bin";
    bool everyCut = false;  // also with the first piece cut in two at each of 200 offsets
    qint64 fileLimit = 0;   // the most a file may grow to during the first start (0: any)
};
Q_DECLARE_METATYPE(Hostile)

// How a connect wait ends without a connection: "timeout", "refused",
// "stop", or "restart" (an error, and a new start on the slot, inside the
// wait); the second of the clock's last reading (-1: the clock stood still).
struct Wait {
    QString how;
    bool proxy;
    int lastSecond;
    QStringList log;
};
Q_DECLARE_METATYPE(Wait)

class tst_Session : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void hostileResponses_data()
    {
        QTest::addColumn<Hostile>("c");
        const QStringList done{"URL开始下载", "URL的下载完成了"},
            early{"URL开始下载", "URL的下载因为winsock关闭被关闭了"};
        const QStringList failed{"URL的下载因为请求时出错被关闭了", "URL出错了"};
        const QStringList writeFailed{"URL的下载因为写入文件出错被关闭了"};
        const QStringList cutShort{"URL开始下载", writeFailed[0]};
        QByteArray ten = "0123456789", src(10000, '\0'), big(1 << 16, 'b'), garbage(4096, '\0');
        for (int i = 0; i < src.size(); ++i)
            src[i] = char(i * 7 + i / 251);
        QRandomGenerator(2007).fillRange(reinterpret_cast<quint32 *>(garbage.data()), 1024);
        Hostile c{{ok200(src)}, src, "ok", done};
        c.everyCut = true;
        QTest::newRow("header and body cut at every offset of the first 200 bytes") << c;
        for (const int at : {1000, 5000, 9900}) {
            const QString resumed = QString("URL开始从%1断点续传下载").arg(at);
            c = {{ok200(src.left(at), src.size())}, src, "ok", {resumed, done[1]}};
            c.resume = from206(src, at, at != 5000), c.end = at == 9900 ? End::Reset : End::Close;
            QTest::addRow("%s at %d, then 206%s", at == 9900 ? "reset" : "closed", at,
                          at == 5000 ? " without Content-Range" : "")
                << c;
        }
        c = {{ok200(ten)}, ten, "ok", done};
        c.gotSize = -7;
        QTest::newRow("negative count starts over") << c;
        // Every request's lines up to the Host line's text.
        const QByteArray common = "Accept: */*\r\nAccept-Language: zh-cn\r\n"
                                  "Accept-Encoding: identity\r\nUser-Agent: Zipvane1.0\r\nHost: ";
        c = {{ok200(src)}, src, "ok", done};
        c.onDisk = src.left(4000), c.fileSize = src.size(), c.gotSize = 4000;
        c.request = "GET /f.bin HTTP/1.1\r\n" + common
                    + "127.0.0.1:%1\r\nRange: bytes=4000-\r\nConnection: close\r\n\r\n";
        QTest::newRow("Range ignored: 200 starts over") << c;
        c = {{ok200(ten)}, ten, "ok", done};
        c.onDisk = "some older and longer file";
        QTest::newRow("200 over an older, longer file restarts it") << c;
        c = {{from206(ten, 2)}, "0123", "stop", failed};
        c.onDisk = "0123", c.fileSize = 10, c.gotSize = 4;
        c.request = "GET http://files.invalid:8080/f.bin?x=1 HTTP/1.1\r\n" + common
                    + "files.invalid:8080\r\nProxy-Authorization: Basic dTpwdzk=\r\n"
                      "Range: bytes=4-\r\nConnection: close\r\n\r\n";
        QTest::newRow("206 from the wrong byte, through a proxy") << c;
        for (const int size : {1, 7, 4096}) {  // the last chunk split across two arrivals
            const QByteArray all = chunked(src, size);
            QTest::addRow("chunks of %d", size)
                << Hostile{{all.chopped(3), all.right(3)}, src, "stop", early};
        }
        QTest::newRow("Content-Length shorter than the body")
            << Hostile{{ok200(src, 5000)}, src, "ok", done};
        QTest::newRow("Content-Length longer than the body")
            << Hostile{{ok200(src, 20000)}, src, "stop", early};
        const QByteArray pad = QByteArray("X-Pad: 0123456789\r\n").repeated(5000);
        QTest::newRow("header that never ends")
            << Hostile{{"HTTP/1.1 200 OK\r\n" + pad}, {}, "stop", failed};
        const QByteArray line
            = "HTTP/1.1 200 OK\r\nX-Pad: " + QByteArray(1 << 20, 'a') + "\r\n\r\nbody";
        QTest::newRow("1 MiB header line") << Hostile{{line}, {}, "stop", failed};
        QTest::newRow("binary garbage") << Hostile{{garbage}, {}, "stop", early.mid(1)};
        const QByteArray in500
            = "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 15\r\n\r\nHTTP/1.1 200 OK";
        QTest::newRow("200 text inside a 500 body") << Hostile{{in500}, {}, "stop", failed};
        const QByteArray page = "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found";
        QTest::newRow("404 with a length: no file, no size")
            << Hostile{{page}, {}, "stop", {"URL文件不存在", "URL的下载因为文件未找到！被关闭了"}};
        c = {{}, {}, "stop", {"URL的下载因为用户取消被关闭了"}};
        c.end = End::KeepOpen;
        QTest::newRow("nothing sent, connection kept open: stop") << c;
        // /proc/version: a file no one may open for writing, root included.
        for (const char *target : {"missing/f.bin", "/dev/full", "/proc/version"}) {
            c = {{ok200(src).left(2000), ok200(src).mid(2000)}, {}, "stop", writeFailed};
            c.name = target;
            QTest::addRow("write failure: %s", target) << c;
        }
        // 16 KiB and more go to the file at once: the second arrival is
        // written only in part before the file may grow no further.
        const QByteArray whole = ok200(big);
        c = {{whole.chopped(32768), whole.right(32768)}, big.left(32768), "stop", cutShort};
        c.fileLimit = 49152;
        QTest::newRow("short write: the part written is cut off again") << c;
    }
    void hostileResponses()
    {
        QFETCH(Hostile, c);
        QList<QByteArrayList> runs{c.pieces};
        for (int cut = 1; c.everyCut && cut <= 200; ++cut)
            runs.append({c.pieces[0].left(cut), c.pieces[0].mid(cut)});
        for (const QByteArrayList &run : std::as_const(runs)) {
            ScriptedServer server;
            server.addScript({run, 15, c.end});
            server.addScript(ScriptedServer::split(c.resume));
            EngineFixture f;
            const bool proxy = c.request.startsWith("GET http:");
            const QString url = proxy ? QString("http://files.invalid:8080/f.bin?x=1")
                                      : QString("http://127.0.0.1:%1/f.bin").arg(server.port());
            const int row = f.addTask(url, c.name, c.fileSize, c.gotSize);
            TaskRecord &rec = f.task(row);
            // Without a host the port and the credentials make no proxy.
            rec.ProxyHost = proxy ? "127.0.0.1" : "", rec.ProxyPort = qint16(server.port());
            rec.ProxyUser = "u", rec.ProxyPass = "pw9";
            QFile old(rec.FilePath);
            QVERIFY(c.onDisk.isNull()
                    || (old.open(QIODevice::WriteOnly) && old.write(c.onDisk) > 0));
            old.close();
            const qsizetype filesOpen = QDir("/proc/self/fd").count();
            rlimit before{};
            getrlimit(RLIMIT_FSIZE, &before);
            const rlimit limit{c.fileLimit > 0 ? rlim_t(c.fileLimit) : before.rlim_cur,
                               before.rlim_max};
            const auto handler = signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead
            setrlimit(RLIMIT_FSIZE, &limit);
            const auto restore
                = qScopeGuard([&] { setrlimit(RLIMIT_FSIZE, &before), signal(SIGXFSZ, handler); });
            QVERIFY(f.start(row));
            const std::weak_ptr<clsDown> first = f.engine.Down(1);
            if (c.end == End::KeepOpen) {  // as a double-click on the row does
                QVERIFY(QTest::qWaitFor(
                    [&] { return server.requests().value(0).endsWith("\r\n\r\n"); }));
                f.engine.Down(1)->bCancel = true, f.engine.DownRow[1] = 0;
                f.engine.CloseSocket(1, "用户取消");
            }
            QVERIFY(f.waitEnded() && f.engine.slotFree(1));
            QVERIFY(c.resume.isEmpty() || (f.run(row) && f.engine.slotFree(1)));
            QCOMPARE(f.host.states.value(row), c.state);
            if (!c.request.isNull())
                QCOMPARE(server.requests(), QList<QByteArray>{QByteArray(c.request).replace(
                                                "%1", QByteArray::number(server.port()))});
            // Whatever happened, the counts claim exactly the bytes on disk.
            const qint64 onDisk = QFileInfo(rec.FilePath).size();
            QCOMPARE((QList<qint64>{rec.GotSize, f.engine.Down(1)->ReceiveBytes}),
                     QList<qint64>(2, onDisk));
            if (!QFileInfo(c.name).isAbsolute())  // a system file or device is not ours to read
                QCOMPARE(std::pair(QFile::exists(rec.FilePath), readFile(rec.FilePath)),
                         std::pair(!c.file.isNull(), c.file));
            // Only a file's own response tells its size, shown once known.
            if (!c.pieces.value(0).startsWith("HTTP/1.1 20"))
                QCOMPARE(rec.FileSize, c.fileSize);
            QCOMPARE(f.host.texts.value({row, 1}),
                     rec.FileSize == c.fileSize ? "" : QString::number(rec.FileSize));
            // The session ended exactly once, whichever event came last.
            const QRegularExpression end("(被关闭了|的下载完成了)$");
            QCOMPARE(f.host.log.filter(end).size(), c.resume.isEmpty() ? 1 : 2);
            // A header spread over several arrivals logs its status once per
            // arrival; how TCP groups the pieces is not ours, so repeats fold.
            QStringList log = f.host.log;
            log.removeDuplicates();
            const QStringList head{"开始下载：URL", "Winsock1与127.0.0.1连接成功！"};
            QCOMPARE(log.mid(0, 2) + log.mid(log.size() - c.logTail.size()),
                     (head + c.logTail).replaceInStrings("URL", url));
            // The password goes to the proxy only, never into the log, in clear or encoded.
            QVERIFY(!log.join('\n').contains("Basic") && !log.join('\n').contains("pw9"));
            // The clipboard holds the response as far as its header went.
            QVERIFY(!run.value(0).startsWith("HTTP")
                    || f.host.clipboard.startsWith(QString::fromLatin1(run.value(0).left(8))));
            // The ended session, its socket and its file are let go.
            f.engine.newSession(1);
            QVERIFY(first.expired());
            QTRY_COMPARE(QDir("/proc/self/fd").count(), filesOpen);
        }
    }

    void connectWait_data()
    {
        QTest::addColumn<Wait>("c");
        const QString direct = "URL的下载因为连接服务器时间过长被关闭了";
        const QString error = "URL的下载因为Winsock出错被关闭了";
        QTest::newRow("time-out direct") << Wait{"timeout", false, 21, {direct}};
        QTest::newRow("time-out proxy")
            << Wait{"timeout", true, 11, {"URL的下载因为连接代理服务器时间过长被关闭了"}};
        QTest::newRow("error during the wait") << Wait{"refused", false, -1, {error, direct}};
        QTest::newRow("stop during the wait") << Wait{"stop", false, -1, {direct}};
        QTest::newRow("error, and the slot restarted, during the wait")
            << Wait{"restart", false, -1, {error, direct}};
    }
    void connectWait()
    {
        QFETCH(Wait, c);
        const bool restart = c.how == "restart";
        // The gate hides a connection to the server until B, started anew
        // on the slot during the restart, opens it.
        ScriptedServer server;
        server.addScript(ScriptedServer::split(ok200("0123456789"), 0, 0, End::KeepOpen));
        GateSocket *gate = nullptr;
        EngineFixture f([&](int i, QObject *p) -> DownSocket * {
            return i == 1 ? gate = new GateSocket(i, p) : nullptr;
        });
        const quint16 port = c.how == "refused" ? freeLoopbackPort() : server.port();
        const QString url = QString("http://127.0.0.1:%1/f.bin").arg(port);
        const int row = f.addTask(url, "f.bin");
        const int rowB
            = f.addTask(QString("http://127.0.0.1:%1/b.bin").arg(server.port()), "b.bin");
        // Without a host the port makes no proxy.
        f.task(row).ProxyHost = c.proxy ? "127.0.0.1" : "", f.task(row).ProxyPort = qint16(port);
        f.host.clockStepMs = c.lastSecond < 0 ? 0 : 1000;  // every reading lets a second pass
        QTimer::singleShot(0, &f.engine, [&] {
            if (c.how == "stop")  // a double-click on the row
                f.engine.Down(1)->bCancel = true, f.engine.DownRow[1] = 0;
            if (!restart)
                return;
            f.engine.Wsock_Error(1, 0, {});
            gate->gateShut = false;
            QVERIFY(f.engine.slotFree(1) && f.start(rowB));
        });
        QVERIFY(!f.start(row));
        // Given up at the first reading past the limit, not before.
        QCOMPARE(f.host.clockMs / 1000 - 1, qint64(c.lastSecond));
        QCOMPARE(f.host.log.filter(url),
                 (QStringList("开始下载：URL") + c.log).replaceInStrings("URL", url));
        QCOMPARE(f.host.states.value(row), "error");
        QVERIFY(!QFile::exists(f.file("f.bin")));
        QVERIFY(restart || (f.engine.slotFree(1) && !f.engine.Down(1)->bBusy));
        if (!restart)
            return;
        // The old wait's late end leaves B's session, slot, socket and row alone.
        QTRY_COMPARE(f.task(rowB).GotSize, qint64(10));
        QVERIFY(f.engine.Down(1)->bBusy && f.engine.DownRow[1] == rowB);
        QCOMPARE(f.engine.Wsock(1).State(), int(DownSocket::Connected));
        f.engine.CloseSocket(1, "用户取消");
        QCOMPARE(f.host.log.last() + readFile(f.file("b.bin")),
                 f.task(rowB).Url + "的下载完成了0123456789");
    }

    void closeSocket_data()
    {
        QTest::addColumn<qint64>("fileSize");
        QTest::addColumn<qint64>("gotSize");
        QTest::addColumn<bool>("complete");
        QTest::newRow("one byte short") << 1000ll << 999ll << true;
        QTest::newRow("two bytes short") << 1000ll << 998ll << false;
        QTest::newRow("unknown size") << 0ll << 5000ll << false;
        QTest::newRow("beyond 2 GiB") << 3000000000ll << 2999999999ll << true;
    }
    void closeSocket()
    {
        QFETCH(qint64, fileSize);
        QFETCH(qint64, gotSize);
        QFETCH(bool, complete);
        EngineFixture f;
        const int row = f.addTask("http://h/f", "f", fileSize, gotSize);
        const auto session = f.engine.newSession(2);
        session->WhichDown = qint16(row), session->WhichSocket = 2, session->bBusy = true;
        f.engine.DownRow[2] = qint16(row);
        f.engine.CloseSocket(2, "x");
        f.engine.CloseSocket(1, "x");  // an idle slot: no row to mark, nothing to log
        QCOMPARE(f.host.log, QStringList(complete ? "http://h/f的下载完成了"
                                                  : "http://h/f的下载因为x被关闭了"));
        QCOMPARE(f.host.states.value(row), complete ? "ok" : "stop");
        QVERIFY(!session->bBusy && f.engine.slotFree(2));
    }

    // The time column of the row on slot 2 (its session idle), and both
    // slots' dots over 16 ticks, slot 1 busy for all but the first and last.
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
        const int row = f.addTask("http://h/f", "f");
        f.engine.Down(2)->StartTime = 1000000, f.engine.DownRow[2] = qint16(row);
        f.host.clockMs = 1000000 + elapsedMs;
        QString dots[3];  // per slot, each tick's step and colour
        for (int tick = 0; tick < 16; ++tick) {
            f.engine.Down(1)->bBusy = tick > 0 && tick < 15;
            f.engine.Timer1Tick();
            for (const int i : {1, 2})
                dots[i] += QString::number(f.engine.DotStep(i)) + "BRG"[int(f.engine.DotColor(i))];
        }
        QCOMPARE(f.host.texts, (QMap<QPair<int, int>, QString>{{{row, 3}, shown}}));
        QCOMPARE(dots[1], "0B1B2B3B4B5B6B0R1R2R3R4R5R6R0G0G");
        QCOMPARE(dots[2], QString("0B").repeated(16));
    }
};

QTEST_GUILESS_MAIN(tst_Session)
#include "tst_session.moc"
