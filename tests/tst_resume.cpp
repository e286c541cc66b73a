// A resume against a scripted loopback server: the request names the file
// it continues (If-Range), and no answer puts bytes of another file, or past
// the size, into ours. Run twice by CTest: the rest of a plain body moved by
// splice(2), and with ZV_NO_SPLICE every byte written from our memory.
#include "support/fakehost.h"
#include "support/scriptedserver.h"
#include "tasks/piecemap.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

#include <atomic>
#include <dlfcn.h>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

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

// The answer in pieces 15 ms apart; after it the file (null: none) and the
// end line after the URL; before it the file `had` (null: none), counted as
// long as it is, and the task's validator and size; after it those two.
struct Resume {
    QByteArrayList answer;
    QByteArray file;
    QString ending, validator;
    QByteArray had;
    qint64 size;
    QString validatorAfter;
    qint64 sizeAfter;
    QString name;
};
Q_DECLARE_METATYPE(Resume)

// A row; a validator or size after left out is the one before.
static void row(const char *tag, const QByteArrayList &answer, const QByteArray &file,
                const QString &ending, const QString &validator = {},
                const QByteArray &had = "abcd", qint64 size = 10,
                std::optional<QString> validatorAfter = {}, qint64 sizeAfter = -1,
                const QString &name = "f.bin")
{
    QTest::newRow(tag) << Resume{answer,
                                 file,
                                 ending,
                                 validator,
                                 had,
                                 size,
                                 validatorAfter.value_or(validator),
                                 sizeAfter < 0 ? size : sizeAfter,
                                 name};
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
    void resume_data()
    {
        QTest::addColumn<Resume>("c");
        const QString done = "的下载完成了", changed = "的下载因为服务器上的文件已改变被关闭了",
                      failed = "的下载因为请求时出错被关闭了", v1 = "\"v1\"",
                      date = "Mon, 01 Jan 2024 00:00:00 GMT";
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
            "的下载因为winsock关闭被关闭了", {}, {}, 0);
        for (const char *lengths :
             {"5\r\nContent-Length: 6", "5, 6", "5,5\r\ncontent-length: 5"}) {
            const bool agree = QByteArray(lengths).endsWith(": 5");
            row(lengths, {ok + "Content-Length: " + lengths + "\r\n\r\nhel", "loXYZ"},
                agree ? "hello" : QByteArray(), agree ? done : failed, {}, {}, 0, {},
                agree ? 5 : 0);
        }
        // Interrupted calls are made again; a failed close takes its bytes back.
        const QByteArray big(300000, 'z');
        row("interrupted",
            {ok + "Content-Length: 300000\r\n\r\n", big.left(100000), big.mid(100000)}, big, done,
            {}, {}, 0, {}, 300000);
        row("failed close", {ok + "Content-Length: 5\r\n\r\nhel", "lo"}, "",
            "的下载因为写入文件出错被关闭了", {}, {}, 0, {}, 5, "f.closefail");
    }
    void resume()
    {
        QFETCH(Resume, c);
        ScriptedServer server;
        server.addScript({c.answer, 15, ScriptedServer::End::Close});
        EngineFixture f;
        const QString url = QString("http://127.0.0.1:%1/f").arg(server.port());
        TaskRecord &rec = f.task(f.addTask(url, c.name, c.size, c.had.size()));
        rec.Validator = c.validator;
        QFile had(rec.FilePath);
        QVERIFY(c.had.isNull()
                || (had.open(QIODevice::WriteOnly) && had.write(c.had) == c.had.size()));
        had.close();
        const QByteArray tag = QTest::currentDataTag();
        interrupting = tag == "interrupted", failingClose = tag == "failed close",
        interruptions = 0;
        // A validator learned is written to the list while the file downloads.
        bool listedRunning = false;
        QObject::connect(&f.model, &TaskModel::changed, [&] {
            listedRunning |= f.model.running(1) && rec.Validator == c.validatorAfter;
        });
        // None is complete before: a count above the size is not.
        QCOMPARE(f.state(1), "stop");
        QVERIFY(f.start(1) && f.waitEnded());
        QVERIFY(c.validatorAfter == c.validator || listedRunning);
        interrupting = failingClose = false;
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
        QCOMPARE(std::pair(QFile::exists(rec.FilePath), readFile(rec.FilePath)),
                 std::pair(!c.file.isNull(), c.file));
        QVERIFY(tag != "interrupted" || interruptions > 2);
        // The counts claim exactly the bytes on disk; the row and end line agree.
        const qint64 n = QFileInfo(rec.FilePath).size();
        QCOMPARE(std::pair(rec.GotSize, f.engine.Down(1)->ReceiveBytes), std::pair(n, n));
        QVERIFY2(f.log.contains(url + c.ending), qPrintable(f.log.join('\n')));
        QCOMPARE(f.state(1), c.ending == "的下载完成了"    ? "ok"
                             : c.ending.contains("已改变") ? "error"
                                                           : "stop");
        QCOMPARE(std::pair(rec.Validator, rec.FileSize), std::pair(c.validatorAfter, c.sizeAfter));
        // The clipboard holds the header and nothing after it.
        const QByteArray all = c.answer.join();
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
        QTest::addColumn<bool>("mapBefore");
        QTest::addColumn<QString>("ending");
        const QString done = "的下载完成了";
        const QString plain, whole = "whole", elsewhere = "elsewhere";
        QTest::newRow("one") << 1 << 0 << plain << 0 << false << done;
        QTest::newRow("four") << 4 << 0 << plain << 0 << false << done;
        QTest::newRow("auto grows on a capped path") << 0 << 0 << plain << 0 << false << done;
        QTest::newRow("third refused") << 8 << 3 << plain << 0 << false << done;
        QTest::newRow("200 to a range") << 4 << 0 << whole << 0 << false << done;
        QTest::newRow("206 of another range") << 4 << 0 << elsewhere << 0 << false << done;
        QTest::newRow("ETag changes")
            << 4 << 0 << plain << 1 << false << "的下载因为服务器上的文件已改变被关闭了";
        QTest::newRow("resumed from its map") << 3 << 0 << plain << 0 << true << done;
        QTest::newRow("map, one") << 1 << 0 << plain << 0 << true << done;
    }
    void pieces()
    {
        QFETCH(int, connections);
        QFETCH(int, refuse);
        QFETCH(QString, answer);
        QFETCH(int, newEtagAfter);
        QFETCH(bool, mapBefore);
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
        TaskRecord &rec = f.task(f.addTask(url, "p.bin", mapBefore ? server.body.size() : 0));
        PieceMap before(server.body.size());
        if (mapBefore) {
            // Two pieces on disk, apart; a hole before, between and after.
            rec.Validator = "\"v1\"";
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
        QVERIFY(connections == 1 ? asked.size() == (mapBefore ? 3 : 1) : asked.size() > 2);
        for (const QByteArray &r : asked.mid(1)) {
            if (!r.isEmpty())
                QVERIFY2(r.contains("If-Range: \"v1\"\r\n") && r.contains("Range: bytes="), r);
        }
        if (mapBefore)
            QVERIFY(asked[0].contains("Range: bytes=0-\r\nIf-Range"));
    }
};

QTEST_GUILESS_MAIN(tst_Resume)
#include "tst_resume.moc"
