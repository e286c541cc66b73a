// One download session against a scripted loopback server: the connect wait
// with what may run inside it, the progress timer; redirects, and files past
// 2 GiB as sparse files (a resume whose size only the server knows, and a
// file the server says is whole). Its answers, hostile ones too: tst_resume.
#include "engine/downsocket.h"
#include "engine/requestplan.h"
#include "support/fakehost.h"
#include "support/scriptedserver.h"

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
        const QByteArray rest = "HTTP/1.1 206 Partial\r\nContent-Range: bytes 3-5/6\r\n\r\ndef";
        QTest::newRow("resumed") << Hops{{redirect("/new"), rest}, "abc", "abcdef", "ok", "/new"};
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
        const QString path = f.task(row).FilePath;
        QVERIFY(c.had.isEmpty() || writeFile(path, c.had));
        QVERIFY((f.start(row), f.waitEnded()));
        QCOMPARE(f.state(row) + " " + f.task(row).Url, c.state + " " + url);
        QVERIFY(f.log.last().endsWith(c.state == "ok" ? "的下载完成了" : "重定向失败被关闭了"));
        QCOMPARE(std::pair(QFile::exists(path), readFile(path)),
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
