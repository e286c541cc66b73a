// The real program, copied into a folder of its own so its list is kept
// there: one program per list, URLs handed from a later start, what the
// local socket lets in, a stale lock taken over, SIGTERM writing the list.
#include "support/fakehost.h"
#include "tasks/tasklistfile.h"
#include "tasks/urlmessage.h"
#include "window/singleinstance.h"

#include <QLocalSocket>
#include <QtTest>
#include <csignal>

// Bytes sent on the first program's socket, and what comes back before it
// closes: "OK\n" only for a whole, well-formed message.
struct Peer {
    QByteArray sent, answer;
};
Q_DECLARE_METATYPE(Peer)

class TestInstance : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString list_;
    QProcess first_;

    QStringList listed() const
    {
        QStringList urls;
        for (const TaskRecord &r : TaskListFile::read(list_).records)
            urls << r.Url;
        return urls;
    }
    void start(QProcess &p, const QStringList &urls) { p.start(dir_.filePath("zipvane"), urls); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(QFile::copy(ZV_PROGRAM, dir_.filePath("zipvane")));
        list_ = dir_.filePath(TaskListFile::FileName);
        start(first_, {"http://h/1"});
        QTRY_COMPARE_WITH_TIMEOUT(listed(), QStringList{"http://h/1"}, 10000);
    }

    void laterStartHandsOver()
    {
        QProcess second;
        start(second, {"http://h/2", "http://h/1", "ftp://h/3", "https://h/4"});
        QVERIFY(second.waitForFinished(10000) && second.exitCode() == 0);
        QTRY_COMPARE(listed(), QStringList({"http://h/1", "http://h/2", "https://h/4"}));
    }

    void socket_data()
    {
        QTest::addColumn<Peer>("p");
        const QByteArray head = "ZIPVANE-URLS 1\n";
        QTest::newRow("garbage") << Peer{"GET / HTTP/1.0\r\n\r\n", ""};
        QTest::newRow("too large") << Peer{head + QByteArray(300 << 10, 'a') + "\n\n", ""};
        QTest::newRow("bytes after the end") << Peer{head + "http://h/5\n\nx", ""};
        QTest::newRow("control character") << Peer{head + "http://h/\x01\n\n", ""};
        QTest::newRow("not UTF-8") << Peer{head + "http://h/\xff\n\n", ""};
        QTest::newRow("empty line") << Peer{head + "\nhttp://h/5\n\n", ""};
        QTest::newRow("well formed") << Peer{head + "http://h/5\n\n", "OK\n"};
    }
    void socket()
    {
        QFETCH(Peer, p);
        QLocalSocket peer;
        peer.connectToServer(SingleInstance::serverName(list_));
        QVERIFY(peer.waitForConnected(5000));
        peer.write(p.sent);
        QVERIFY(peer.waitForDisconnected(10000));
        QCOMPARE(peer.readAll(), p.answer);
        QCOMPARE(first_.state(), QProcess::Running);
        QTRY_COMPARE(listed().size(), 3 + int(!p.answer.isEmpty()));
    }

    void staleLockTakenOver()
    {
        first_.kill(), first_.waitForFinished();
        QProcess third;
        start(third, {"http://h/6"});
        QTRY_COMPARE_WITH_TIMEOUT(listed().last(), "http://h/6", 10000);
        QCOMPARE(third.state(), QProcess::Running);
        ::kill(pid_t(third.processId()), SIGTERM);  // closed as 退出 closes it
        QVERIFY(third.waitForFinished(10000));
        QCOMPARE(std::pair(third.exitStatus(), third.exitCode()),
                 std::pair(QProcess::NormalExit, 0));
        QVERIFY(!QFile::exists(list_ + ".lock"));
    }
};

QTEST_GUILESS_MAIN(TestInstance)
#include "tst_instance.moc"
