// The tasks' roads on the model and the engine alone, no widgets linked:
// a retry ahead of the queue, a close with a redirect unread, a stop of a
// hung thread, each against a loopback server, checked by what the server was asked and what the model says.
#include "engine/downsocket.h"
#include "support/fakehost.h"
#include "support/scriptedserver.h"

#include <QSemaphore>
#include <QThread>
#include <arpa/inet.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

static const QByteArray File(10000, 'q');

// A real socket whose first read that brings bytes hangs until the gate is
// released: a slot's thread that does not answer. `hung` is released as it
// begins to hang.
class HangSocket : public DownSocket {
public:
    HangSocket(QSemaphore &hung, QSemaphore &gate, int index, QObject *parent)
        : DownSocket(index, parent), hung_(hung), gate_(gate)
    {}
    QByteArray GetData() override
    {
        QByteArray data = DownSocket::GetData();
        if (!data.isEmpty() && !hanging_)
            hanging_ = true, hung_.release(), gate_.acquire();
        return data;
    }

private:
    QSemaphore &hung_, &gate_;
    bool hanging_ = false;
};

class tst_Tasks : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A retry that falls due while both slots are busy goes before the
    // tasks already queued, and starts on the next slot that frees.
    void dueRetryHeadsTheQueue()
    {
        ScriptedServer dropping, silent;
        dropping.addScript(
            {{"HTTP/1.1 200 OK\r\nContent-Length: 10000\r\n\r\n" + File.left(5000)}, 100});
        dropping.addScript(ScriptedServer::split(
            "HTTP/1.1 206 P\r\nContent-Range: bytes 5000-9999/10000\r\n\r\n" + File.mid(5000)));
        silent.addScript({{}, 0, ScriptedServer::End::KeepOpen});
        EngineFixture f;
        f.engine.setQueueRetries(true);
        const int a = f.addTask(QString("http://127.0.0.1:%1/a").arg(dropping.port()), "a", 10000);
        QList<int> others;
        for (const char *name : {"b", "c", "d", "e"})
            others << f.addTask(QString("http://127.0.0.1:%1/%2").arg(silent.port()).arg(name),
                                name);
        f.model.enqueue(a);
        for (const int row : others)
            f.model.enqueue(row);
        QTRY_VERIFY(f.model.state(a) == TaskState::WaitingRetry);  // c took its slot
        QTRY_COMPARE(f.model.queue(), QVector<int>({others[2], others[3]}));
        f.clockMs += 5000, f.engine.Timer1Tick();
        QCOMPARE(f.model.queue(), QVector<int>({a, others[2], others[3]}));
        QCOMPARE(f.log.filter("重试").size(), 0);
        f.engine.stopSlot(f.engine.DownRow[1] == others[1] ? 1 : 2);  // c stops: a goes on
        QTRY_COMPARE(f.state(a), "ok");
        QCOMPARE(dropping.requests().size(), 2);
        QCOMPARE(f.log.filter("第2次重试：").size(), 1);
        QTRY_COMPARE(f.model.queue(), QVector<int>({others[3]}));  // d took a's slot
    }

    // Closing while the answer that redirects sits unread: the program ends
    // without a new connection. The server runs on a thread of its own, so
    // that this thread handles nothing while the answer arrives.
    void closeWithRedirectQueued()
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET, address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&address), size) == 0
                && ::listen(listener, 4) == 0
                && ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size) == 0);
        QAtomicInt connections = 0, answered = 0;
        std::thread server([&] {
            const int c = ::accept(listener, nullptr, nullptr);
            connections.ref();
            char request[4096];
            (void)::read(c, request, sizeof request);
            const char answer[]
                = "HTTP/1.1 302 Found\r\nLocation: /g\r\nContent-Length: 0\r\n\r\n";
            answered = ::write(c, answer, sizeof answer - 1) > 0;
            pollfd next{listener, POLLIN, 0};
            if (::poll(&next, 1, 1500) == 1)  // a second connection would come here
                connections.ref();
            ::close(c);
        });
        EngineFixture f;
        const int row
            = f.addTask(QString("http://127.0.0.1:%1/f").arg(ntohs(address.sin_port)), "f");
        QVERIFY(f.start(row));
        while (!answered.loadAcquire())
            QThread::msleep(10);
        QThread::msleep(200);  // the slot's thread reads the answer; this one does not look
        f.engine.shutDown();
        QTest::qWait(100);
        server.join();
        ::close(listener);
        QCOMPARE(connections.loadAcquire(), 1);
        QCOMPARE(f.log.filter("重定向").size(), 0);
    }

    // A slot whose thread hangs (here in its first read; a hung disk is the
    // same to the engine) is given up after the stop's limit: the stop
    // returns, bytes it did not report are not counted, and the slot
    // downloads the next task on a new thread.
    void stopWhileTheThreadHangs()
    {
        ScriptedServer server;
        server.addScript({{"HTTP/1.1 200 OK\r\nContent-Length: 10000\r\n\r\n" + File},
                          0,
                          ScriptedServer::End::KeepOpen});
        QSemaphore entered, gate;
        QAtomicInt made = 0;
        EngineFixture f([&](int i, QObject *p) -> DownSocket * {
            return i == 1 && made.fetchAndAddOrdered(1) == 0 ? new HangSocket(entered, gate, i, p)
                                                             : new DownSocket(i, p);
        });
        f.engine.setHaltLimitMs(300);
        const QString url = QString("http://127.0.0.1:%1/f").arg(server.port());
        const int hung = f.addTask(url, "f"), next = f.addTask(url, "g");
        QVERIFY(f.start(hung));
        QTRY_COMPARE(server.requests().size(), 1);
        QTRY_COMPARE(entered.available(), 1);  // the answer came; the thread hangs reading it
        f.engine.stopSlot(1);
        QCOMPARE(f.log.filter("下载线程没有应答").join(""), "下载线程没有应答，已放弃：" + url);
        QCOMPARE(std::pair(f.state(hung), f.task(hung).GotSize), std::pair(QString("stop"), 0ll));
        QVERIFY(f.start(next) && f.waitEnded());
        QCOMPARE(readFile(f.task(next).FilePath), File);
        gate.release();  // the given-up thread goes on: nothing of it reaches the task
        QTest::qWait(300);
        QCOMPARE(std::pair(f.task(hung).GotSize, QFileInfo(f.task(hung).FilePath).size()),
                 std::pair(0ll, 0ll));
    }
};

QTEST_GUILESS_MAIN(tst_Tasks)
#include "tst_tasks.moc"
