// Redirects from a scripted server, and files past 2 GiB as sparse files: a
// resume whose size only the server knows, and a file the server says is whole.
#include "support/fakehost.h"
#include "support/scriptedserver.h"

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

class tst_Web : public QObject {
    Q_OBJECT
private Q_SLOTS:
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

QTEST_GUILESS_MAIN(tst_Web)
#include "tst_web.moc"
