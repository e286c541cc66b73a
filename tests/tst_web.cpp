// Redirects from a scripted server, and files past 2 GiB as sparse files: a
// resume whose size only the server knows, and a file the server says is whole.
#include "support/fakehost.h"
#include "support/scriptedserver.h"

static QByteArray redirect(const QByteArray &location)
{
    return "HTTP/1.1 302 Found\r\n" + location + "Content-Length: 5\r\n\r\nmoved";
}

// Answers in order, one a connection; what the file holds after (null: no
// file), the row's state, the last log line after the URL ("%1": the
// server's port) and the target of the last request.
struct Hops {
    QByteArrayList answers;
    QByteArray file;
    QString state, log, lastTarget;
};
Q_DECLARE_METATYPE(Hops)

class tst_Web : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void redirects_data()
    {
        QTest::addColumn<Hops>("c");
        const QByteArray body = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nfile";
        const QString here = "http://127.0.0.1:%1";
        QTest::newRow("relative") << Hops{
            {redirect("Location: b/c.bin\r\n"), body}, "file", "ok", "的下载完成了", "/a/b/c.bin"};
        QTest::newRow("absolute") << Hops{{redirect("Location: " + here.toLatin1() + "/x\r\n"),
                                           redirect("Location: /y\r\n"), body},
                                          "file",
                                          "ok",
                                          "的下载完成了",
                                          "/y"};
        QTest::newRow("no Location")
            << Hops{{redirect("")}, {}, "error", "的下载因为重定向失败被关闭了", "/a/f.bin"};
        QTest::newRow("not a URL") << Hops{{redirect("Location: ftp://h/f\r\n")},
                                           {},
                                           "error",
                                           "的下载因为重定向失败被关闭了",
                                           "/a/f.bin"};
        QTest::newRow("loop") << Hops{
            {redirect("Location: /b\r\n"), redirect("Location: /a/f.bin\r\n")},
            {},
            "error",
            "的下载因为重定向失败被关闭了",
            "/b"};
        QByteArrayList many;
        for (int hop = 1; hop <= 21; ++hop)
            many << redirect("Location: /" + QByteArray::number(hop) + "\r\n");
        QTest::newRow("21 hops") << Hops{many, {}, "error", "的下载因为重定向失败被关闭了", "/20"};
    }
    void redirects()
    {
        QFETCH(Hops, c);
        ScriptedServer server;
        for (const QByteArray &answer : c.answers)
            server.addScript(ScriptedServer::split(
                QByteArray(answer).replace("%1", QByteArray::number(server.port()))));
        EngineFixture f;
        const QString url = QString("http://127.0.0.1:%1/a/f.bin").arg(server.port());
        const int row = f.addTask(url, "f.bin");
        f.start(row);
        QVERIFY(f.waitEnded());
        QCOMPARE(f.states.value(row), c.state);
        QCOMPARE(f.log.last(), url + c.log);
        QCOMPARE(std::pair(QFile::exists(f.task(row).FilePath), readFile(f.task(row).FilePath)),
                 std::pair(!c.file.isNull(), c.file));
        QCOMPARE(server.requests().last().split(' ').value(1), c.lastTarget.toLatin1());
        // One line a hop, naming where it leads; the record keeps the user's URL.
        QCOMPARE(f.log.filter("重定向到：").size(), std::min<int>(20, int(c.answers.size()) - 1));
        QCOMPARE(f.task(row).Url, url);
    }

    // A resume answered with a redirect asks the new place for the same range.
    void redirectedResume()
    {
        ScriptedServer server;
        server.addScript(ScriptedServer::split(redirect("Location: /new\r\n")));
        server.addScript(ScriptedServer::split(
            "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 3-5/6\r\n\r\ndef"));
        EngineFixture f;
        const int row
            = f.addTask(QString("http://127.0.0.1:%1/old").arg(server.port()), "f", 6, 3);
        QFile file(f.task(row).FilePath);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("abc") == 3 && file.flush());
        QVERIFY(f.start(row) && f.waitEnded());
        QCOMPARE(readFile(file.fileName()), "abcdef");
        for (const QByteArray &request : server.requests())
            QVERIFY(request.contains("\r\nRange: bytes=3-\r\n"));
    }

    // A file of 3 GiB on disk but for its last MiB (or whole), whose record
    // was read back as "2 GiB or more": the server tells the size (206) or
    // that nothing is missing (416); nothing is written before our end.
    void largeFiles_data()
    {
        QTest::addColumn<bool>("whole");
        QTest::newRow("206 from the end of the file") << false;
        QTest::newRow("416: the file is whole") << true;
    }
    void largeFiles()
    {
        QFETCH(bool, whole);
        const qint64 size = 3221225472, have = whole ? size : size - (1 << 20);
        ScriptedServer server;
        const QByteArray tail(1 << 20, 't');
        server.addScript(ScriptedServer::split(
            whole
                ? "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */3221225472\r\n\r\n"
                : "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 3220176896-3221225471/"
                  "3221225472\r\nContent-Length: 1048576\r\n\r\n"
                      + tail));
        EngineFixture f;
        const int row = f.addTask(QString("http://127.0.0.1:%1/iso").arg(server.port()), "iso",
                                  2147483647, have);
        f.task(row).SizeOpen = true;
        QFile file(f.task(row).FilePath);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(have));
        file.close();
        QVERIFY(f.start(row) && f.waitEnded(60000));
        QVERIFY(server.requests().value(0).contains("\r\nRange: bytes=" + QByteArray::number(have)
                                                    + "-\r\n"));
        QCOMPARE(std::pair(f.states.value(row), f.log.last()),
                 std::pair(QString("ok"), f.task(row).Url + "的下载完成了"));
        QCOMPARE(std::tuple(f.task(row).FileSize, f.task(row).GotSize, QFileInfo(file).size()),
                 std::tuple(size, size, size));
        QVERIFY(!f.task(row).SizeOpen && f.texts.value({row, 1}) == "3221225472");
        QVERIFY(file.open(QIODevice::ReadOnly) && file.seek(size - 1));
        QCOMPARE(file.read(1), whole ? QByteArray(1, '\0') : "t");
    }
};

QTEST_GUILESS_MAIN(tst_Web)
#include "tst_web.moc"
