// Reading a response header that arrives in pieces, and decoding a chunked
// body, at every way the bytes may be split between arrivals.
#include "engine/response.h"

#include <QtTest>

using Response::Status;
Q_DECLARE_METATYPE(Response::Status)

class TestResponse : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void header_data()
    {
        QTest::addColumn<QByteArray>("header");   // without the blank line that ends it
        QTest::addColumn<Status>("status");
        // Content-Length, chunked or not, Content-Range start; -1: none.
        QTest::addColumn<QString>("fields");
        const auto row = [](const char *name, const QByteArray &header, Status status, const char *fields = "-1 0 -1") { QTest::newRow(name) << header << status << QString::fromLatin1(fields); };
        const QByteArray ok = "HTTP/1.1 200 OK\r\n";

        row("200 reason only", "HTTP/1.1 200\r\n", Status::Error);
        row("1.0 206 bare", "HTTP/1.0 206\r\n", Status::Error);
        row("1.0 404", "HTTP/1.0 404 Not Found\r\n", Status::NotFound404);
        row("1.0 404 bare", "HTTP/1.0 404\r\n", Status::Error);
        row("lower-case protocol", "http/1.1 200 OK\r\n", Status::Error);
        row("leading blank", " HTTP/1.1 200 OK\r\n", Status::Error);
        row("length", ok + "Server: x\r\nContent-Length: 500\r\n", Status::Ok200, "500 0 -1");
        row("1.0 200, length in any case, no blank", "HTTP/1.0 200 OK\r\ncontent-LENGTH:12345\r\n", Status::Ok200, "12345 0 -1");
        row("length, blanks and tabs", ok + "Content-Length: \t 77 \t\r\n", Status::Ok200, "77 0 -1");
        row("length at the limit", ok + "Content-Length: 2147483647\r\n", Status::Ok200, "2147483647 0 -1");
        row("length above the limit", ok + "Content-Length: 2147483648\r\n", Status::Ok200);
        row("1.1 404, length negative", "HTTP/1.1 404 Not Found\r\nContent-Length: -5\r\n", Status::NotFound404);
        row("other field ending in the name", ok + "X-Content-Length: 9\r\n", Status::Ok200);
        row("chunked, any case", ok + "transfer-encoding:  CHUNKED \r\n", Status::Ok200, "-1 1 -1");
        row("chunked not last", ok + "Transfer-Encoding: chunked, gzip\r\n", Status::Ok200);
        row("chunked in the second line", ok + "Transfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n", Status::Ok200, "-1 1 -1");
        row("1.1 206 bare, range", "HTTP/1.1 206\r\nContent-Range: bytes 1000-4999/5000\r\nContent-Length: 4000\r\n", Status::Partial206, "4000 0 1000");
        row("1.0 206, range beyond 32 bits", "HTTP/1.0 206 Partial Content\r\ncontent-range: BYTES 3000000000-3000000009/*\r\n", Status::Partial206, "-1 0 3000000000");
        row("range, other unit", ok + "Content-Range: items 1-2/3\r\n", Status::Ok200);
    }
    void header()
    {
        QFETCH(QByteArray, header);
        QFETCH(Status, status);
        QFETCH(QString, fields);
        const auto describe = [](const QByteArray &h) { return QStringLiteral("%1 %2 %3").arg(Response::contentLength(h).value_or(-1)).arg(int(Response::isChunked(h))).arg(Response::contentRangeStart(h).value_or(-1)); };
        QCOMPARE(describe(header + "\r\n"), fields);
        // The status line is no field line, whatever it holds: here the first field line.
        const QByteArray fieldLines = header.mid(header.indexOf("\r\n") + 2);
        QCOMPARE(describe(fieldLines.left(fieldLines.indexOf('\n') + 1) + "\r\n"), QStringLiteral("-1 0 -1"));

        // Fed in three arrivals cut at every pair of places, so that the blank
        // line may be spread over three of them or end an arrival. The status
        // is known once the status line's CR LF is in, and only it decides,
        // whatever the body says; the body is not taken into the header.
        const QByteArray response = header + "\r\nHTTP/1.1 200 OK\r\n\r\n";
        const qsizetype headerEnd = response.indexOf("\r\n\r\n") + 4, lineEnd = response.indexOf("\r\n") + 2;
        for (int a = 0; a <= response.size(); ++a)
            for (int b = a; b <= response.size(); ++b) {
                HeaderScanner scanner;
                qsizetype fed = 0;
                for (const QByteArray &piece : {response.left(a), response.mid(a, b - a), response.mid(b)}) {
                    // Where the body starts in this arrival: its size when the header ends at its last byte.
                    QCOMPARE(scanner.feed(piece), fed >= headerEnd ? 0 : fed + piece.size() >= headerEnd ? headerEnd - fed : -1);
                    fed += piece.size();
                    QCOMPARE(scanner.status(), fed >= lineEnd ? status : Status::Unknown);
                }
                QCOMPARE(scanner.header(), response.left(headerEnd));
            }
    }
    void headerBound_data()
    {
        QTest::addColumn<int>("filler");
        QTest::addColumn<bool>("tooLong");
        const int bound = int(Response::MaxHeaderBytes) - int(qstrlen("HTTP/1.1 200 OK\r\n"));
        QTest::newRow("at the bound") << bound << false;
        QTest::newRow("one past the bound") << bound + 1 << true;
        QTest::newRow("far past the bound") << 4 * bound << true;
    }
    void headerBound()
    {
        QFETCH(int, filler);
        QFETCH(bool, tooLong);
        // One very long header line, so no blank line can appear in it.
        const QByteArray header = "HTTP/1.1 200 OK\r\n" + QByteArray(filler, 'x');
        HeaderScanner scanner;
        for (int i = 0; i < header.size(); i += 1000)
            QCOMPARE(scanner.feed(header.mid(i, 1000)), -1);
        QCOMPARE(scanner.tooLong(), tooLong);
        // Once too long, further arrivals are not kept.
        QVERIFY(scanner.header().size() <= Response::MaxHeaderBytes + 1000);
    }
    void chunked_data()
    {
        QTest::addColumn<QByteArray>("encoded");
        QTest::addColumn<QByteArray>("result");   // the data, then how the decoder ends

        QTest::newRow("hex sizes, extensions, data holding CR LF") << QByteArray("a ;name=\"v;x\"\r\n0123456789\r\nB\r\nhello world\r\n0004\r\n\r\n\r\n\r\n000;last\r\n\r\n") << QByteArray("0123456789hello world\r\n\r\n|finished");
        QTest::newRow("trailers, bytes after the end ignored") << QByteArray("3\r\nabc\r\n0\r\nX-Sum: 1\r\nX-Other: 2\r\n\r\n5\r\nextra\r\n") << QByteArray("abc|finished");
        QTest::newRow("cut off before trailers end") << QByteArray("1\r\nx\r\n0\r\nX: 1\r\n") << QByteArray("x|waiting");
        QTest::newRow("cut off in data, largest size accepted") << QByteArray("10000000000\r\nab") << QByteArray("ab|waiting");
        QTest::newRow("size missing") << QByteArray("\r\nab\r\n0\r\n\r\n") << QByteArray("|failed");
        QTest::newRow("size absurd") << QByteArray("10000000001\r\nab") << QByteArray("|failed");
        QTest::newRow("bare LF after size") << QByteArray("3\nabc\r\n0\r\n\r\n") << QByteArray("|failed");
        QTest::newRow("no CR LF after data") << QByteArray("1\r\naX\r\n0\r\n\r\n") << QByteArray("a|failed");
        QTest::newRow("CR without LF after data") << QByteArray("1\r\na\rX0\r\n\r\n") << QByteArray("a|failed");
        QTest::newRow("bare LF in trailer") << QByteArray("0\r\nX: 1\n\r\n") << QByteArray("|failed");
    }
    void chunked()
    {
        QFETCH(QByteArray, encoded);
        QFETCH(QByteArray, result);
        // The first k bytes one at a time, then the rest at once: cut at every
        // place, byte by byte (k at the end) and whole (k = 0).
        for (int k = 0; k <= encoded.size(); ++k) {
            ChunkedDecoder decoder;
            QByteArray out;
            bool ok = true;
            for (int i = 0; i < k; ++i)
                ok = decoder.feed(encoded.mid(i, 1), out) && ok;
            ok = decoder.feed(encoded.mid(k), out) && ok;
            QCOMPARE(ok, !decoder.failed());
            QCOMPARE(out + '|' + (decoder.failed() ? "failed" : decoder.finished() ? "finished" : "waiting"), result);
        }
    }
};

QTEST_APPLESS_MAIN(TestResponse)
#include "tst_response.moc"
