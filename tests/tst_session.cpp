// One download session against a scripted loopback server: how it takes
// hostile responses and ends, the connect wait with what may run inside it,
// the progress timer; redirects, and files past 2 GiB as sparse files (a
// resume whose size only the server knows, and a file the server says is whole).
#include "engine/downsocket.h"
#include "engine/requestplan.h"
#include "support/fakehost.h"
#include "support/scriptedserver.h"

#include <csignal>
#include <sys/resource.h>

using End = ScriptedServer::End;

// A real socket that hides its first connection: it reads as connecting until
// it is closed, so a test can act inside a connect wait that has connected.
class GateSocket : public DownSocket {
public:
    using DownSocket::DownSocket;
    int State() const override
    {
        const int state = DownSocket::State();
        return shut && state == Connected ? int(Connecting) : state;
    }
    void Close() override { shut = false, DownSocket::Close(); }
    bool shut = true;
};

static QByteArray ok200(const QByteArray &body, int length)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(length) + "\r\n\r\n" + body;
}

// A response in two arrivals 15 ms apart (cut at `cut`), maybe the answer to
// a second start, and the file (null: none), the row's state and the last end
// line after the URL. The last request byte for byte ("%1": the server's
// port), when given; one for a proxy goes through the server as the proxy,
// for user "u" with password "pw9". Kept open, the user stops it once the
// header has begun to arrive.
struct Hostile {
    QByteArray response, file;
    int cut;
    QString state, ending;
    QByteArray resume = {}, request = {};
    End end = End::Close;
    QString name = "f.bin";
};
Q_DECLARE_METATYPE(Hostile)

static QByteArray redirect(const QByteArray &to)
{
    return "HTTP/1.1 302 Found\r\n" + (to.isEmpty() ? "" : "Location: " + to + "\r\n")
           + "Content-Length: 5\r\n\r\nmoved";
}

// Answers in order, one a connection ("%1": the server's port); the bytes on
// disk before (then a resume) and after (null: no file), the row's state and
// the target of the last request. A failure ends the log with "重定向失败".
struct Hops {
    QByteArrayList answers;
    QByteArray had, file;
    QString state, lastTarget;
};
Q_DECLARE_METATYPE(Hops)

class tst_Session : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(signal(SIGXFSZ, SIG_IGN) != SIG_ERR); }

    void hostileResponses_data()
    {
        QTest::addColumn<Hostile>("c");
        const QString done = "的下载完成了", early = "的下载因为winsock关闭被关闭了",
                      failed = "的下载因为请求时出错被关闭了",
                      full = "的下载因为写入文件出错被关闭了";
        QByteArray src(10000, '\0');
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(src.data()), 2500);
        const QByteArray whole = ok200(src, 10000);  // its body starts at 42
        for (const int cut : {1, 16, 39, 41, 42, 100})
            QTest::addRow("cut at %d", cut) << Hostile{whole, src, cut, "ok", done};
        QTest::newRow("1 byte short") << Hostile{whole.chopped(1), src.chopped(1), 0, "ok", done};
        QTest::newRow("2 short") << Hostile{whole.chopped(2), src.chopped(2), 0, "retry", early};
        for (const int at : {1000, 5000, 9900}) {  // 5000: no Content-Range; 9900: reset
            const QByteArray range
                = QString("Content-Range: bytes %1-9999/10000\r\n").arg(at).toLatin1();
            const QByteArray resume = "HTTP/1.1 206 Partial Content\r\n"
                                      + (at == 5000 ? "" : range) + "\r\n" + src.mid(at);
            const End end = at == 9900 ? End::Reset : End::Close;
            QTest::addRow("206 from %d", at)
                << Hostile{ok200(src.left(at), 10000), src, 0, "ok", done, resume, {}, end};
        }
        // Every request's lines from the second to the Host line.
        const QByteArray head
            = "Accept: */*\r\nAccept-Language: zh-cn\r\nAccept-Encoding: identity\r\n"
              "User-Agent: Zipvane1.0\r\nHost: 127.0.0.1:%1\r\n";
        const QByteArray direct
            = "GET /f.bin HTTP/1.1\r\n" + head + "Range: bytes=4000-\r\nConnection: close\r\n\r\n";
        QTest::newRow("Range ignored: 200")
            << Hostile{ok200(src.left(4000), 10000), src, 0, "ok", done, whole, direct};
        const QByteArray proxied = "GET http://127.0.0.1:%1/f.bin HTTP/1.1\r\n" + head
                                   + "Proxy-Authorization: Basic dTpwdzk=\r\nRange: "
                                     "bytes=4-\r\nConnection: close\r\n\r\n";
        const QByteArray wrong
            = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 2-9/10\r\n\r\n23456789";
        QTest::newRow("206 from the wrong byte, proxy")
            << Hostile{ok200("0123", 10), "0123", 0, "stop", failed, wrong, proxied};
        const QByteArray chunks = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                  "10\r\n0123456789abcdef\r\n5\r\nghijk\r\n0\r\n\r\n";
        // The last chunk ends the download, and tells its size.
        QTest::newRow("chunked") << Hostile{chunks, "0123456789abcdefghijk",
                                            int(chunks.size()) - 3, "ok", done};
        QTest::newRow("endless header")
            << Hostile{"HTTP/1.1 200 OK\r\nX: " + QByteArray(100000, 'x'), {}, 0, "stop", failed};
        QTest::newRow("garbage") << Hostile{src, {}, 0, "stop", early};
        const QByteArray page = "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found";
        // A 4xx no later try would change ends in error; a 408 or 429 waits to be retried.
        QTest::newRow("404: no file, no size")
            << Hostile{page, {}, 0, "error", "的下载因为文件未找到！被关闭了"};
        for (const QByteArray status : {"403 Forbidden", "408 Timeout"}) {
            const QString state = status.startsWith("408") ? "stop" : "error";
            const QByteArray answer = QByteArray(page).replace("404 Not Found", status);
            QTest::newRow(status) << Hostile{answer, {}, 0, state, failed};
        }
        const QByteArray half = "HTTP/1.1 200 OK\r\nContent-Le";
        QTest::newRow("half a header: stop")
            << Hostile{half, {}, 0, "stop", "的下载因为用户取消被关闭了", {}, {}, End::KeepOpen};
        QTest::newRow("missing folder")
            << Hostile{whole, {}, 2000, "stop", full, {}, {}, End::Close, "missing/f.bin"};
        // The second arrival, from byte 32 KiB (or 48,000) of the body on, is
        // written only in part, whatever its size.
        const QByteArray big = QByteArray(1 << 16, 'b'), part = big.left(32768);
        QTest::newRow("short write")
            << Hostile{ok200(big, 1 << 16), part, 42 + 32768, "stop", full};
        QTest::newRow("short write, small arrival")
            << Hostile{ok200(big.left(50000), 50000), big.left(48000), 42 + 48000, "stop", full};
        // A resume that meets another file writes nothing after ours, and the
        // task waits in error for the user.
        const QString changed = "的下载因为服务器上的文件已改变被关闭了";
        const QByteArray first = ok200(src.left(6000), 10000);
        for (const QByteArray &other :
             {ok200("<html>login</html>", 18), QByteArray("HTTP/1.1 200 OK\r\n\r\nhtml"),
              "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 6000-14999/15000\r\n\r\n"
                  + src.mid(6000)})
            QTest::newRow(other.left(12) + " to a resume, another file")
                << Hostile{first, src.left(6000), 0, "error", changed, other};
        // The body ends with its length or last chunk, the connection still open;
        // nothing after the length is written. Any reason phrase, or none.
        QTest::newRow("whole body, kept open")
            << Hostile{whole + "trailing bytes", src, 0, "ok", done, {}, {}, End::KeepOpen};
        QTest::newRow("last chunk, kept open")
            << Hostile{chunks, "0123456789abcdefghijk", 0, "ok", done, {}, {}, End::KeepOpen};
        for (const char *status : {"200 Ok", "200"})
            QTest::newRow(status) << Hostile{QByteArray(whole).replace("200 OK", status), src, 0,
                                             "ok", done};
    }
    void hostileResponses()
    {
        QFETCH(Hostile, c);
        // No file here may grow past 48 KiB: a write beyond fails, the signal ignored.
        const rlimit cap{49152, RLIM_INFINITY}, none{RLIM_INFINITY, RLIM_INFINITY};
        QVERIFY(setrlimit(RLIMIT_FSIZE, &cap) == 0);
        const auto uncap = qScopeGuard([&] { setrlimit(RLIMIT_FSIZE, &none); });
        ScriptedServer server;
        server.addScript({{c.response.left(c.cut), c.response.mid(c.cut)}, 15, c.end});
        server.addScript(ScriptedServer::split(c.resume));
        EngineFixture f;
        const QString url = QString("http://127.0.0.1:%1/f.bin").arg(server.port());
        TaskRecord &rec = f.task(f.addTask(url, c.name));  // row 1
        // Without a host the port and the credentials make no proxy.
        rec.ProxyHost = c.request.startsWith("GET http:") ? "127.0.0.1" : "";
        rec.ProxyPort = qint16(server.port()), rec.ProxyUser = "u", rec.ProxyPass = "pw9";
        QVERIFY(f.start(1));
        if (c.ending.contains("用户取消")) {  // inside the header, as a double-click
            QTRY_VERIFY(!f.engine.Down(1)->ReceiveData.isEmpty());
            f.engine.stopSlot(1);
        }
        QVERIFY(f.waitEnded() && (c.resume.isNull() || (f.start(1) && f.waitEnded())));
        QCOMPARE(f.state(1), c.state);
        if (!c.request.isNull())
            QCOMPARE(server.requests().last(),
                     QByteArray(c.request).replace("%1", QByteArray::number(server.port())));
        // Whatever happened, the counts claim exactly the bytes on disk.
        const qint64 n = QFileInfo(rec.FilePath).size();
        QCOMPARE(std::pair(rec.GotSize, f.engine.Down(1)->ReceiveBytes), std::pair(n, n));
        QCOMPARE(std::pair(QFile::exists(rec.FilePath), readFile(rec.FilePath)),
                 std::pair(!c.file.isNull(), c.file));
        if (!c.response.startsWith("HTTP/1.1 20"))  // only a file's own response tells its size
            QCOMPARE(std::pair(rec.FileSize, f.texts.value({1, 1})), std::pair(0ll, QString()));
        // One end line per session, the last one as the row says.
        const QStringList ends = f.log.filter(QRegularExpression("(被关闭了|的下载完成了)$"));
        QCOMPARE(ends.mid(c.resume.isNull() ? 0 : 1), QStringList(url + c.ending));
        // The password goes to the proxy only, never into the log, in clear or encoded.
        QVERIFY(!f.log.join('\n').contains(QRegularExpression("Basic|pw9")));
    }

    // How a connect wait ends without a connection: by time-out (every reading
    // of the clock lets a second pass; given up at the first past 20 s), by a
    // refused connection, by a stop, or by an error and a new start of another
    // row on the slot inside it (the clock stands still but for the time-out).
    void connectWait_data()
    {
        QTest::addColumn<QString>("how");
        for (const char *how : {"timeout", "refused", "stop", "restart"})
            QTest::newRow(how) << QString(how);
    }
    void connectWait()
    {
        QFETCH(QString, how);
        ScriptedServer server;  // silent; the gate hides a connection to it until a close
        server.addScript({{}, 0, End::KeepOpen});
        EngineFixture f([](int i, QObject *p) { return new GateSocket(i, p); });
        const quint16 port = how == "refused" ? freeLoopbackPort() : server.port();
        const QString url = QString("http://127.0.0.1:%1/f.bin").arg(port);
        f.addTask(url, "f.bin"), f.addTask(QString(url).replace("f.", "b."), "b");  // rows 1, 2
        f.clockStepMs = how == "timeout" ? 1000 : 0;
        QTimer::singleShot(0, &f.engine, [&] {
            if (how == "stop")  // a double-click on the row
                f.engine.stopSlot(1);
            if (how == "restart")
                f.engine.Wsock_Error(1, 0, {}), f.engine.StartTask(1, 2, f.task(2).FilePath);
        });
        QVERIFY(!f.start(1));
        QCOMPARE(f.clockMs, how == "timeout" ? 22000 : 0);
        // An error is logged as it comes, the wait's end after it.
        const QStringList ends{url + "的下载因为Winsock出错被关闭了",
                               url + "的下载因为连接服务器时间过长被关闭了"};
        QCOMPARE(f.log.filter(url).mid(1), ends.mid(how == "refused" || how == "restart" ? 0 : 1));
        QCOMPARE(f.state(1), "error");
        // A wait that ends frees its slot; B (row 2), started on it right after the error, keeps
        // its session, slot and connect wait.
        QVERIFY(how == "restart" ? f.engine.Down(1)->bBusy && f.engine.DownRow[1] == 2
                                       && f.engine.Down(1)->connecting()
                                 : f.engine.slotFree(1));
    }

    // Slot 1 busy for all of 16 ticks but the first and last; the time column
    // of slot 2's row (its session idle), started a day and 1:01:01 ago.
    void timer()
    {
        EngineFixture f;
        f.engine.DownRow[2] = qint16(f.addTask("http://h/f", "f"));  // row 1
        f.engine.Down(2)->StartTime = 5, f.clockMs = 5 + 90061000;
        QString dots;  // slot 1's step and colour at each tick
        for (int tick = 0; tick < 16; ++tick) {
            f.engine.Down(1)->bBusy = tick > 0 && tick < 15;
            f.engine.Timer1Tick();
            dots += QString::number(f.engine.DotStep(1)) + "BRG"[int(f.engine.DotColor(1))];
        }
        QCOMPARE(f.texts.value({1, 3}) + " " + dots, "01:01:01 0B1B2B3B4B5B6B0R1R2R3R4R5R6R0G0G");
    }

    void redirects_data()
    {
        QTest::addColumn<Hops>("c");
        const QByteArray body = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nfile";
        QTest::newRow("relative") << Hops{{redirect("b/c"), body}, {}, "file", "ok", "/a/b/c"};
        QTest::newRow("absolute") << Hops{
            {redirect("http://127.0.0.1:%1/x"), redirect("/y"), body}, {}, "file", "ok", "/y"};
        QTest::newRow("resumed") << Hops{
            {redirect("/new"), "HTTP/1.1 206 Partial\r\nContent-Range: bytes 3-5/6\r\n\r\ndef"},
            "abc",
            "abcdef",
            "ok",
            "/new"};
        QTest::newRow("no Location") << Hops{{redirect("")}, {}, {}, "error", "/a/f"};
        QTest::newRow("not a URL") << Hops{{redirect("ftp://h/f")}, {}, {}, "error", "/a/f"};
        QTest::newRow("loop") << Hops{{redirect("/b"), redirect("/a/f")}, {}, {}, "error", "/b"};
        QByteArrayList many;
        for (int hop = 1; hop <= 21; ++hop)
            many << redirect("/" + QByteArray::number(hop));
        QTest::newRow("21 hops") << Hops{many, {}, {}, "error", "/20"};
    }
    void redirects()
    {
        QFETCH(Hops, c);
        ScriptedServer server;
        for (const QByteArray &answer : c.answers)
            server.addScript(ScriptedServer::split(
                QByteArray(answer).replace("%1", QByteArray::number(server.port()))));
        EngineFixture f;
        const QString url = QString("http://127.0.0.1:%1/a/f").arg(server.port());
        const int row = f.addTask(url, "f", c.had.isEmpty() ? 0 : 6, c.had.size());
        QFile had(f.task(row).FilePath);
        QVERIFY(c.had.isEmpty() || (had.open(QIODevice::WriteOnly) && had.write(c.had) == 3));
        had.close();
        QVERIFY((f.start(row), f.waitEnded()));
        QCOMPARE(f.state(row) + " " + f.task(row).Url, c.state + " " + url);
        QVERIFY(f.log.last().endsWith(c.state == "ok" ? "的下载完成了" : "重定向失败被关闭了"));
        QCOMPARE(std::pair(QFile::exists(had.fileName()), readFile(had.fileName())),
                 std::pair(!c.file.isNull(), c.file));
        QCOMPARE(server.requests().last().split(' ').value(1), c.lastTarget.toLatin1());
        // One line a hop, naming where it leads; the same range asked for
        // everywhere. (The record keeps the user's URL, above.)
        QCOMPARE(f.log.filter("重定向到：").size(), std::min<int>(20, c.answers.size() - 1));
        for (const QByteArray &request : server.requests())
            QCOMPARE(request.contains("\r\nRange: bytes=3-\r\n"), !c.had.isEmpty());
    }

    // A link from the browser: its User-Agent, Referer and Cookie on every
    // request, the Cookie only to the origin it came with: not after a
    // redirect to another port, not in a proxy's CONNECT. The file completes.
    void browserHeaders_data()
    {
        QTest::addColumn<QString>("how");
        for (const char *how : {"same origin", "other port", "tunnel"})
            QTest::newRow(how) << QString(how);
    }
    void browserHeaders()
    {
        QFETCH(QString, how);
        ScriptedServer first, other;
        const QByteArray body = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nfile";
        const quint16 to = how == "same origin" ? first.port() : other.port();
        first.addScript(ScriptedServer::split(
            how == "tunnel" ? "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n"
                            : redirect("http://127.0.0.1:" + QByteArray::number(to) + "/b")));
        first.addScript(ScriptedServer::split(body));
        other.addScript(ScriptedServer::split(body));
        EngineFixture f;
        const QString url
            = QString(how == "tunnel" ? "https://127.0.0.1:%1/a" : "http://127.0.0.1:%1/a")
                  .arg(how == "tunnel" ? other.port() : first.port());
        TaskRecord &rec = f.task(f.addTask(url, "f"));
        rec.UserAgent = "Browser/1 (X11)", rec.Referrer = "http://127.0.0.1/page",
        rec.Cookies = "a=1; b=2";
        rec.CookieOrigin = originOf(url);
        if (how == "tunnel")
            rec.ProxyHost = "127.0.0.1", rec.ProxyPort = qint16(first.port());
        QVERIFY((f.start(1), f.waitEnded()));
        const QByteArray head
            = "Accept: */*\r\nAccept-Language: zh-cn\r\nAccept-Encoding: identity\r\n"
              "User-Agent: Browser/1 (X11)\r\nHost: 127.0.0.1:%1\r\n"
              "Referer: http://127.0.0.1/page\r\n";
        const auto request = [&](const char *target, quint16 port, bool cookie) {
            return QByteArray("GET " + QByteArray(target) + " HTTP/1.1\r\n" + head
                              + (cookie ? "Cookie: a=1; b=2\r\n" : "")
                              + "Connection: close\r\n\r\n")
                .replace("%1", QByteArray::number(port));
        };
        if (how == "tunnel") {
            QCOMPARE(first.requests().value(0),
                     "CONNECT 127.0.0.1:" + QByteArray::number(other.port())
                         + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(other.port())
                         + "\r\n\r\n");
            return;
        }
        QCOMPARE(first.requests().value(0), request("/a", first.port(), true));
        const ScriptedServer &second = how == "same origin" ? first : other;
        QCOMPARE(second.requests().last(), request("/b", to, how == "same origin"));
        QCOMPARE(std::pair(f.state(1), readFile(rec.FilePath)),
                 std::pair(QString("ok"), QByteArray("file")));
        // Complete: what the browser gave is not kept past it.
        QVERIFY(rec.Cookies.isEmpty() && rec.Referrer.isEmpty() && rec.UserAgent.isEmpty());
    }

    // 3 GiB on disk but its last MiB (or whole), read back as "2 GiB or more":
    // the server tells the size (206 from where the file ends) or that nothing
    // is missing (416).
    void largeFiles()
    {
        const qint64 size = 3221225472;
        for (const bool whole : {false, true}) {
            ScriptedServer server;
            server.addScript(ScriptedServer::split(
                whole ? "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */3221225472"
                        "\r\n\r\n"
                      : "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 3220176896-"
                        "3221225471/3221225472\r\n\r\n"
                            + QByteArray(1 << 20, 't')));
            EngineFixture f;
            const qint64 had = whole ? size : size - (1 << 20);
            const int row = f.addTask(QString("http://127.0.0.1:%1/iso").arg(server.port()), "iso",
                                      2147483647, had);
            f.task(row).SizeOpen = true;
            QFile file(f.task(row).FilePath);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(had));
            file.close();
            QVERIFY(f.start(row) && f.waitEnded(60000));
            QVERIFY(
                server.requests()[0].contains("Range: bytes=" + QByteArray::number(had) + "-"));
            QCOMPARE(f.log.last(), f.task(row).Url + "的下载完成了");
            QCOMPARE(std::tuple(f.task(row).FileSize, f.task(row).GotSize, file.size()),
                     std::tuple(size, size, size));
            QVERIFY(!f.task(row).SizeOpen && f.texts.value({row, 1}) == "3221225472");
        }
    }
};

QTEST_GUILESS_MAIN(tst_Session)
#include "tst_session.moc"
