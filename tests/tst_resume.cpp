// One download session's answers against a scripted loopback server: how
// it takes hostile ones and ends; a resume names the file it continues
// (If-Range), and no answer puts bytes of another file, or past the size,
// into ours. Run twice by CTest: the rest of a plain body moved by splice(2),
// and with ZV_NO_SPLICE every byte written from our memory.
#include "support/fakehost.h"
#include "support/scriptedserver.h"
#include "tasks/piecemap.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

#include <atomic>
#include <csignal>
#include <dlfcn.h>
#include <fcntl.h>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

using End = ScriptedServer::End;

// Seams in front of the C library: while `interrupting`, every other pwrite
// and splice fails with EINTR before doing anything, as a signal arriving in
// it would; while `failingClose`, closing a "*.closefail" file reports EIO.
static std::atomic<bool> interrupting{false}, failingClose{false};
static std::atomic<int> interruptions{0};

template <typename F>
static F next(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

static bool interruptNow()
{
    thread_local bool odd = false;
    if (!interrupting.load() || !(odd = !odd))
        return false;
    ++interruptions, errno = EINTR;
    return true;
}

extern "C" ssize_t pwrite(int fd, const void *data, size_t n, off_t at)
{
    static const auto real = next<ssize_t (*)(int, const void *, size_t, off_t)>("pwrite");
    return interruptNow() ? -1 : real(fd, data, n, at);
}

extern "C" ssize_t splice(int in, loff_t *inAt, int out, loff_t *outAt, size_t n, unsigned flags)
{
    static const auto real
        = next<ssize_t (*)(int, loff_t *, int, loff_t *, size_t, unsigned)>("splice");
    return interruptNow() ? -1 : real(in, inAt, out, outAt, n, flags);
}

extern "C" int close(int fd)
{
    static const auto real = next<int (*)(int)>("close");
    char target[4096] = {};
    const bool fail
        = failingClose.load()
          && readlink(qPrintable(QString("/proc/self/fd/%1").arg(fd)), target, sizeof target - 1)
                 > 0
          && QByteArray(target).endsWith(".closefail");
    const int result = real(fd);
    return fail && result == 0 ? (errno = EIO, -1) : result;
}

static QByteArray ok200(const QByteArray &body, int length)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(length) + "\r\n\r\n" + body;
}

// The answer to a start in pieces 15 ms apart, ended as `end`, and to a
// second start when given; after them the file (null: none), the row's
// state and the last end line after the URL. The last request byte for byte
// ("%1": the server's port), when given; one for a proxy goes through the
// server as the proxy, for user "u" with password "pw9". Kept open, the user
// stops it once the header has begun to arrive. Before the first start the
// file `had` (null: none), counted as long as it is, and the task's
// validator and size; after the end those two (size -1: not looked at).
struct Answer {
    QByteArrayList answer;
    QByteArray file;
    QString state, ending;
    QByteArray second = {}, request = {};
    End end = End::Close;
    QString name = "f.bin", validator = {};
    QByteArray had = {};
    qint64 size = 0;
    QString validatorAfter = {};
    qint64 sizeAfter = -1;
};
Q_DECLARE_METATYPE(Answer)

// A resume's row: the file "abcd" of 10 bytes before, unless given; a
// validator or size after left out is the one before.
static void row(const char *tag, const QByteArrayList &answer, const QByteArray &file,
                const QString &ending, const QString &validator = {},
                const QByteArray &had = "abcd", qint64 size = 10,
                std::optional<QString> validatorAfter = {}, qint64 sizeAfter = -1,
                const QString &name = "f.bin")
{
    const QString state = ending == "的下载完成了"    ? "ok"
                          : ending.contains("已改变") ? "error"
                                                      : "stop";
    Answer a{answer, file, state, ending, {}, {}, End::Close, name, validator, had, size};
    a.validatorAfter = validatorAfter.value_or(validator),
    a.sizeAfter = sizeAfter < 0 ? size : sizeAfter;
    QTest::newRow(tag) << a;
}

// A server of `body` that answers ranges, slowly enough (64 KiB every 4 ms
// a connection) for several connections to run at once. Connection `refuse`
// (1-based) is reset unanswered; a range with a last byte is answered 200
// with the whole file (`pieces` "whole"), or with the bytes 4 KiB before the
// ones asked for, saying so ("elsewhere"); connections after `newEtagAfter`
// name another version of it.
struct RangeServer : QTcpServer {
    QByteArray body;
    int refuse = 0, newEtagAfter = 0;
    QString pieces;
    QByteArrayList requests;
    RangeServer()
    {
        listen(QHostAddress::LocalHost, freeLoopbackPort());
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *s = nextPendingConnection();
            const int n = int(requests.size());
            requests.append(QByteArray());
            connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            if (n + 1 == refuse)
                return s->abort();
            connect(s, &QTcpSocket::readyRead, this, [=] {
                requests[n] += s->readAll();
                if (requests[n].endsWith("\r\n\r\n"))
                    answer(s, n);
            });
        });
    }
    void answer(QTcpSocket *s, int n)
    {
        const QRegularExpression rx("Range: bytes=(\\d+)-(\\d*)\r\n");
        const auto m = rx.match(QString::fromLatin1(requests[n]));
        const bool asked = m.hasMatch() && !m.captured(2).isEmpty();
        const qint64 shift = asked && pieces == "elsewhere" ? 4096 : 0;
        const qint64 size = body.size(),
                     from = m.hasMatch() ? m.captured(1).toLongLong() - shift : 0;
        const bool piece = asked && pieces != "whole";
        const qint64 last = piece ? m.captured(2).toLongLong() - shift : size - 1;
        QByteArray head = m.hasMatch() && !(asked && pieces == "whole")
                              ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes "
                                    + QByteArray::number(from) + '-' + QByteArray::number(last)
                                    + '/' + QByteArray::number(size) + "\r\n"
                              : "HTTP/1.1 200 OK\r\n";
        const qint64 start = head.contains(" 206 ") ? from : 0;
        head += "ETag: " + QByteArray(newEtagAfter && n >= newEtagAfter ? "\"v2\"" : "\"v1\"")
                + "\r\nContent-Length: " + QByteArray::number(last - start + 1) + "\r\n\r\n";
        s->write(head);
        send(s, start, last + 1);
    }
    void send(QTcpSocket *s, qint64 at, qint64 end)
    {
        if (at >= end)
            return s->disconnectFromHost();
        s->write(body.mid(at, qMin<qint64>(65536, end - at)));
        QTimer::singleShot(4, s, [=] { send(s, at + 65536, end); });
    }
};

class tst_Resume : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(signal(SIGXFSZ, SIG_IGN) != SIG_ERR); }

    void answers_data()
    {
        QTest::addColumn<Answer>("c");
        const QString done = "的下载完成了", early = "的下载因为winsock关闭被关闭了",
                      failed = "的下载因为请求时出错被关闭了",
                      full = "的下载因为写入文件出错被关闭了",
                      changed = "的下载因为服务器上的文件已改变被关闭了", v1 = "\"v1\"",
                      date = "Mon, 01 Jan 2024 00:00:00 GMT";
        QByteArray src(10000, '\0');
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(src.data()), 2500);
        const QByteArray whole = ok200(src, 10000);  // its body starts at 42
        for (const int cut : {1, 16, 39, 41, 42, 100})
            QTest::addRow("cut at %d", cut)
                << Answer{{whole.left(cut), whole.mid(cut)}, src, "ok", done};
        QTest::newRow("1 byte short") << Answer{{whole.chopped(1)}, src.chopped(1), "ok", done};
        QTest::newRow("2 short") << Answer{{whole.chopped(2)}, src.chopped(2), "retry", early};
        // The rest after an early end, the connection reset after it at 9900.
        // (Without a Content-Range: the rows of a 206 with no range, below.)
        for (const int at : {1000, 9900}) {
            const QByteArray resume = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes "
                                      + QByteArray::number(at) + "-9999/10000\r\n\r\n"
                                      + src.mid(at);
            const End end = at == 9900 ? End::Reset : End::Close;
            QTest::addRow("206 from %d", at)
                << Answer{{ok200(src.left(at), 10000)}, src, "ok", done, resume, {}, end};
        }
        // Every request's lines from the second to the Host line.
        const QByteArray head
            = "Accept: */*\r\nAccept-Language: zh-cn\r\nAccept-Encoding: identity\r\n"
              "User-Agent: Zipvane1.0\r\nHost: 127.0.0.1:%1\r\n";
        const QByteArray direct
            = "GET /f.bin HTTP/1.1\r\n" + head + "Range: bytes=4000-\r\nConnection: close\r\n\r\n";
        QTest::newRow("Range ignored: 200")
            << Answer{{ok200(src.left(4000), 10000)}, src, "ok", done, whole, direct};
        const QByteArray proxied = "GET http://127.0.0.1:%1/f.bin HTTP/1.1\r\n" + head
                                   + "Proxy-Authorization: Basic dTpwdzk=\r\nRange: "
                                     "bytes=4-\r\nConnection: close\r\n\r\n";
        const QByteArray wrong
            = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 2-9/10\r\n\r\n23456789";
        QTest::newRow("206 from the wrong byte, proxy")
            << Answer{{ok200("0123", 10)}, "0123", "stop", failed, wrong, proxied};
        const QByteArray chunks = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                  "10\r\n0123456789abcdef\r\n5\r\nghijk\r\n0\r\n\r\n";
        // The last chunk ends the download, and tells its size.
        QTest::newRow("chunked") << Answer{
            {chunks.chopped(3), chunks.right(3)}, "0123456789abcdefghijk", "ok", done};
        QTest::newRow("endless header")
            << Answer{{"HTTP/1.1 200 OK\r\nX: " + QByteArray(100000, 'x')}, {}, "stop", failed};
        QTest::newRow("garbage") << Answer{{src}, {}, "stop", early};
        const QByteArray page = "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found";
        // A 4xx no later try would change ends in error; a 408 or 429 waits to be retried.
        QTest::newRow("404: no file, no size")
            << Answer{{page}, {}, "error", "的下载因为文件未找到！被关闭了"};
        for (const QByteArray status : {"403 Forbidden", "408 Timeout"}) {
            const QString state = status.startsWith("408") ? "stop" : "error";
            const QByteArray answer = QByteArray(page).replace("404 Not Found", status);
            QTest::newRow(status) << Answer{{answer}, {}, state, failed};
        }
        const QByteArray half = "HTTP/1.1 200 OK\r\nContent-Le";
        QTest::newRow("half a header: stop")
            << Answer{{half}, {}, "stop", "的下载因为用户取消被关闭了", {}, {}, End::KeepOpen};
        QTest::newRow("missing folder") << Answer{{whole.left(2000), whole.mid(2000)},
                                                  {},
                                                  "stop",
                                                  full,
                                                  {},
                                                  {},
                                                  End::Close,
                                                  "missing/f.bin"};
        // The second arrival, from byte 32 KiB (or 48,000) of the body on, is
        // written only in part, whatever its size.
        const QByteArray big = QByteArray(1 << 16, 'b'), part = big.left(32768);
        QTest::newRow("short write")
            << Answer{{ok200(big.left(32768), 1 << 16), big.mid(32768)}, part, "stop", full};
        QTest::newRow("short write, small arrival") << Answer{
            {ok200(big.left(48000), 50000), big.mid(48000, 2000)}, big.left(48000), "stop", full};
        // A resume that meets another file writes nothing after ours, and the
        // task waits in error for the user.
        const QByteArray first = ok200(src.left(6000), 10000);
        for (const QByteArray &other :
             {ok200("<html>login</html>", 18), QByteArray("HTTP/1.1 200 OK\r\n\r\nhtml"),
              "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 6000-14999/15000\r\n\r\n"
                  + src.mid(6000)})
            QTest::newRow(other.left(12) + " to a resume, another file")
                << Answer{{first}, src.left(6000), "error", changed, other};
        // The body ends with its length or last chunk, the connection still open;
        // nothing after the length is written. Any reason phrase, or none.
        QTest::newRow("whole body, kept open")
            << Answer{{whole + "trailing bytes"}, src, "ok", done, {}, {}, End::KeepOpen};
        QTest::newRow("last chunk, kept open")
            << Answer{{chunks}, "0123456789abcdefghijk", "ok", done, {}, {}, End::KeepOpen};
        for (const char *status : {"200 Ok", "200"})
            QTest::newRow(status) << Answer{
                {QByteArray(whole).replace("200 OK", status)}, src, "ok", done};
        const QByteArray p206 = "HTTP/1.1 206 Partial Content\r\n", ok = "HTTP/1.1 200 OK\r\n",
                         at4 = p206 + "Content-Range: bytes 4-9/10\r\n";
        // The validator sent; the answer's compared with it.
        row("206, same ETag", {at4 + "ETag: \"v1\"\r\n\r\ne", "fghij"}, "abcdefghij", done, v1);
        row("206, another ETag", {at4 + "ETag: \"v2\"\r\n\r\n", "efghij"}, "abcd", changed, v1);
        row("206, another date, same size",
            {at4 + "Last-Modified: Tue, 02 Jan 2024 00:00:00 GMT\r\n\r\n", "efghij"}, "abcd",
            changed, date);
        row("206, weak ETag only", {at4 + "ETag: W/\"v2\"\r\n\r\nef", "ghij"}, "abcdefghij", done,
            v1);
        row("first answer names the file",
            {ok + "ETag: \"v9\"\r\nContent-Length: 10\r\n\r\n01", "23456789"}, "0123456789", done,
            {}, {}, 10, "\"v9\"");
        row("200 to If-Range: starts over",
            {ok + "ETag: \"v2\"\r\nContent-Length: 12\r\n\r\n", "NEWFILE", "12345"},
            "NEWFILE12345", done, v1, "abcd", 10, "\"v2\"", 12);
        // Nothing past the size the task knows, whatever the answer says.
        row("206, no range, longer at once", {p206 + "\r\nefghijXYZ"}, "abcd", changed);
        row("206, no range, longer later", {p206 + "\r\nefg", "hijXYZ"}, "abcdefg", changed);
        row("206, no range, ends at the size", {p206 + "\r\nefg", "hij", "XYZ"}, "abcdefghij",
            done);
        for (const char *past : {"4-15/10", "4-15/*", "4-9223372036854775807/*"})
            row(past, {p206 + "Content-Range: bytes " + past + "\r\n\r\n", "efg", "hijklmnop"},
                "abcd", changed);
        row("206, length past the size", {p206 + "Content-Length: 9\r\n\r\nefghijklm"}, "abcd",
            changed);
        row("206, longer than declared", {at4 + "Content-Length: 6\r\n\r\nef", "ghij", "XYZ"},
            "abcdefghij", done);
        row("chunked 200 longer than its length",
            {ok + "Transfer-Encoding: chunked\r\nContent-Length: 10\r\n\r\n", "6\r\n012345\r\n",
             "a\r\n6789ABCDEF\r\n0\r\n\r\n"},
            "012345", changed);
        row("count past the size: from 0",
            {p206 + "Content-Range: bytes 0-9/10\r\n\r\n01234", "56789"}, "0123456789", done, {},
            "abcdefghijklmn");
        // First requests: a range as wide as a number holds; Content-Length
        // values that disagree, in two lines or in one list, and that agree.
        row("first 206, widest range",
            {p206 + "Content-Range: bytes 0-9223372036854775807/*\r\n\r\nhe", "llo"}, "hello",
            early, {}, {}, 0);
        for (const char *lengths :
             {"5\r\nContent-Length: 6", "5, 6", "5,5\r\ncontent-length: 5"}) {
            const bool agree = QByteArray(lengths).endsWith(": 5");
            row(lengths, {ok + "Content-Length: " + lengths + "\r\n\r\nhel", "loXYZ"},
                agree ? "hello" : QByteArray(), agree ? done : failed, {}, {}, 0, {},
                agree ? 5 : 0);
        }
        // Interrupted calls are made again; a failed close takes its bytes back.
        const QByteArray z(300000, 'z');
        row("interrupted", {ok + "Content-Length: 300000\r\n\r\n", z.left(100000), z.mid(100000)},
            z, done, {}, {}, 0, {}, 300000);
        row("failed close", {ok + "Content-Length: 5\r\n\r\nhel", "lo"}, "", full, {}, {}, 0, {},
            5, "f.closefail");
    }
    void answers()
    {
        QFETCH(Answer, c);
        const QByteArray tag = QTest::currentDataTag();
        // No file of a short write may grow past 48 KiB: a write beyond fails,
        // the signal ignored.
        const rlimit cap{tag.startsWith("short write") ? 49152 : RLIM_INFINITY, RLIM_INFINITY},
            none{RLIM_INFINITY, RLIM_INFINITY};
        QVERIFY(setrlimit(RLIMIT_FSIZE, &cap) == 0);
        const auto uncap = qScopeGuard([&] { setrlimit(RLIMIT_FSIZE, &none); });
        ScriptedServer server;
        server.addScript({c.answer, 15, c.end});
        server.addScript(ScriptedServer::split(c.second));
        EngineFixture f;
        const QString url = QString("http://127.0.0.1:%1/f.bin").arg(server.port());
        TaskRecord &rec = f.task(f.addTask(url, c.name, c.size, c.had.size()));
        rec.Validator = c.validator;
        QVERIFY(c.had.isNull() || writeFile(rec.FilePath, c.had));
        // Without a host the port and the credentials make no proxy.
        rec.ProxyHost = c.request.startsWith("GET http:") ? "127.0.0.1" : "";
        rec.ProxyPort = qint16(server.port()), rec.ProxyUser = "u", rec.ProxyPass = "pw9";
        interrupting = tag == "interrupted", failingClose = tag == "failed close",
        interruptions = 0;
        // A validator learned is written to the list while the file downloads.
        bool listedRunning = false;
        QObject::connect(&f.model, &TaskModel::changed, [&] {
            listedRunning |= f.model.running(1) && rec.Validator == c.validatorAfter;
        });
        // None is complete before: a count above the size is not.
        QCOMPARE(f.state(1), "stop");
        QVERIFY(f.start(1));
        if (c.ending.contains("用户取消")) {  // inside the header, as a double-click
            QTRY_VERIFY(!f.engine.Down(1)->ReceiveData.isEmpty());
            f.engine.stopSlot(1);
        }
        QVERIFY(f.waitEnded() && (c.second.isNull() || (f.start(1) && f.waitEnded())));
        QVERIFY(c.validatorAfter == c.validator || listedRunning);
        interrupting = failingClose = false;
        QCOMPARE(f.state(1), c.state);
        // A known size is resumed from where the file ends, a count above it from
        // the start; the file named by its validator.
        const QByteArray range
            = "Range: bytes=" + QByteArray::number(c.had.size() > c.size ? 0 : c.had.size())
              + "-\r\n";
        const QByteArray asked = !c.size ? ""
                                 : c.validator.isEmpty()
                                     ? range
                                     : range + "If-Range: " + c.validator.toLatin1() + "\r\n";
        QVERIFY2(server.requests().value(0).endsWith(asked + "Connection: close\r\n\r\n"),
                 server.requests().value(0));
        if (!c.request.isNull())
            QCOMPARE(server.requests().last(),
                     QByteArray(c.request).replace("%1", QByteArray::number(server.port())));
        QCOMPARE(std::pair(QFile::exists(rec.FilePath), readFile(rec.FilePath)),
                 std::pair(!c.file.isNull(), c.file));
        QVERIFY(tag != "interrupted" || interruptions > 2);
        // Whatever happened, the counts claim exactly the bytes on disk.
        const qint64 n = QFileInfo(rec.FilePath).size();
        QCOMPARE(std::pair(rec.GotSize, f.engine.Down(1)->ReceiveBytes), std::pair(n, n));
        const QByteArray all = c.answer.join();
        if (!all.startsWith("HTTP/1.1 20"))  // only a file's own response tells its size
            QCOMPARE(std::pair(rec.FileSize, f.texts.value({1, 1})), std::pair(0ll, QString()));
        QCOMPARE(std::pair(rec.Validator, c.sizeAfter < 0 ? -1 : rec.FileSize),
                 std::pair(c.validatorAfter, c.sizeAfter));
        // One end line per session, the last one as the row says.
        const QStringList ends = f.log.filter(QRegularExpression("(被关闭了|的下载完成了)$"));
        QCOMPARE(ends.mid(c.second.isNull() ? 0 : 1), QStringList(url + c.ending));
        // The password goes to the proxy only, never into the log, in clear or encoded.
        QVERIFY(!f.log.join('\n').contains(QRegularExpression("Basic|pw9")));
        // The clipboard holds the header and nothing after it.
        if (c.second.isNull() && all.contains("\r\n\r\n"))
            QCOMPARE(f.clipboard, QString::fromLatin1(all.left(all.indexOf("\r\n\r\n") + 4)));
    }

    // Several connections for one file: whatever each answers, the file ends
    // byte for byte the server's, or the task ends without a wrong byte
    // claimed; the map is gone once it is whole.
    void pieces_data()
    {
        QTest::addColumn<int>("connections");
        QTest::addColumn<int>("refuse");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("newEtagAfter");
        // A map on disk before: none, the list knowing the size and the
        // validator, the map alone knowing them (killed before the list
        // was written), or a map another task left at the path.
        QTest::addColumn<QString>("mapBefore");
        QTest::addColumn<QString>("ending");
        const QString done = "的下载完成了";
        const QString plain, whole = "whole", elsewhere = "elsewhere", no, listed = "listed",
                             alone = "alone";
        QTest::newRow("one") << 1 << 0 << plain << 0 << no << done;
        QTest::newRow("four") << 4 << 0 << plain << 0 << no << done;
        QTest::newRow("auto grows on a capped path") << 0 << 0 << plain << 0 << no << done;
        QTest::newRow("third refused") << 8 << 3 << plain << 0 << no << done;
        QTest::newRow("200 to a range") << 4 << 0 << whole << 0 << no << done;
        QTest::newRow("206 of another range") << 4 << 0 << elsewhere << 0 << no << done;
        QTest::newRow("ETag changes")
            << 4 << 0 << plain << 1 << no << "的下载因为服务器上的文件已改变被关闭了";
        QTest::newRow("resumed from its map") << 3 << 0 << plain << 0 << listed << done;
        QTest::newRow("map, one") << 1 << 0 << plain << 0 << listed << done;
        QTest::newRow("map alone, one") << 1 << 0 << plain << 0 << alone << done;
        QTest::newRow("another task's map") << 1 << 0 << plain << 0 << QString("other") << done;
    }
    void pieces()
    {
        QFETCH(int, connections);
        QFETCH(int, refuse);
        QFETCH(QString, answer);
        QFETCH(int, newEtagAfter);
        QFETCH(QString, mapBefore);
        QFETCH(QString, ending);
        RangeServer server;
        server.body.resize(8 << 20);
        for (qsizetype i = 0; i < server.body.size(); ++i)
            server.body[i] = char(i * 7 / 4093);
        server.refuse = refuse, server.pieces = answer;
        server.newEtagAfter = newEtagAfter;
        EngineFixture f;
        f.engine.setConnections(connections);
        const QString url = QString("http://127.0.0.1:%1/f").arg(server.serverPort());
        TaskRecord &rec
            = f.task(f.addTask(url, "p.bin", mapBefore == "listed" ? server.body.size() : 0));
        PieceMap before(server.body.size());
        before.setValidator(mapBefore == "listed" ? "" : "\"v1\"");
        before.setUrl(mapBefore == "alone" ? url : "http://127.0.0.1:1/other");
        if (!mapBefore.isEmpty()) {
            // Two pieces on disk, apart; a hole before, between and after.
            rec.Validator = mapBefore == "listed" ? "\"v1\"" : "";
            QFile file(rec.FilePath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            for (const auto &[from, end] :
                 {std::pair(1 << 20, 2 << 20), std::pair(5 << 20, 6 << 20)}) {
                file.seek(from), file.write(server.body.mid(from, end - from));
                before.add(from, end);
            }
            file.close();
            QVERIFY(before.save(rec.FilePath));
        }
        QVERIFY(f.start(1) && f.waitEnded(30000));
        QVERIFY2(f.log.contains(url + ending), qPrintable(f.log.join('\n')));
        const QByteArray got = readFile(rec.FilePath);
        if (ending == "的下载完成了") {
            QVERIFY(got == server.body);
            QCOMPARE(std::pair(rec.GotSize, f.state(1)),
                     std::pair(qint64(server.body.size()), QString("ok")));
            QVERIFY(!QFile::exists(PieceMap::controlPath(rec.FilePath)));
        } else {
            // Every byte the map claims is the server's, and the count is its own.
            const auto map = PieceMap::decode(readFile(PieceMap::controlPath(rec.FilePath)));
            QVERIFY(map && map->done() == rec.GotSize);
            for (const auto &[from, end] : map->ranges())
                QVERIFY(got.mid(from, end - from) == server.body.mid(from, end - from));
        }
        // Every request for a piece asks for the file it joins.
        const QByteArrayList &asked = server.requests;
        const bool fromMap = mapBefore == "listed" || mapBefore == "alone";
        QVERIFY(connections == 1 ? asked.size() == (fromMap ? 3 : 1) : asked.size() > 2);
        for (const QByteArray &r : asked.mid(1)) {
            if (!r.isEmpty())
                QVERIFY2(r.contains("If-Range: \"v1\"\r\n") && r.contains("Range: bytes="), r);
        }
        if (fromMap)
            QVERIFY(asked[0].contains("Range: bytes=0-\r\nIf-Range: \"v1\""));
    }
};

QTEST_GUILESS_MAIN(tst_Resume)
#include "tst_resume.moc"
