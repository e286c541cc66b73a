// A response as it arrives: its header read from arrivals cut at the places
// that matter, then a chunked body decoded from what follows.
#include "engine/response.h"

#include <QtTest>

using namespace Response;
// A header's lines and "STATUS LENGTH CHUNKED RANGE-START" (-1: none); or a
// chunked body and "DATA|END", the body sent after a header announcing it.
struct Case {
    QByteArray in, want;
};
Q_DECLARE_METATYPE(Case)

class TestResponse : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void read_data()
    {
        QTest::addColumn<Case>("c");
        const QByteArray ok = "HTTP/1.1 200 OK\r\n", length = "Content-Length: ";
        // Each row is named after its bytes. Fields: a name in any case; a length
        // of digits only, blanks around them, at most 2147483647; the last coding
        // of all Transfer-Encoding lines; a range in bytes.
        const Case rows[] = {
            {ok + "content-LENGTH:\t 2147483647 \t\r\n", "200 2147483647 0 -1"},
            {"HTTP/1.1 404 x\r\n" + length + "-5\r\n", "404 -1 0 -1"},
            {ok + length + "12a\r\nContent-Range: items 1-2/3\r\n", "200 -1 0 -1"},
            {ok + "Transfer-Encoding: gzip\r\ntransfer-encoding:  CHUNKED \r\n", "200 -1 1 -1"},
            {"HTTP/1.1 206\r\nContent-Range: bytes 1000-4999/5000\r\n", "206 -1 0 1000"},
            // Chunked bodies: sizes in either case, extensions, data holding CR LF,
            // trailers, and broken framing.
            {"a ;q=\";\"\r\n0123456789\r\n00F\r\n\r\n\r\nabcdefghijk\r\n0;x\r\n\r\n",
             "0123456789\r\n\r\nabcdefghijk|finished"},
            {"3\r\nabc\r\n0\r\nX-Sum: 1\r\nX: 2\r\n\r\n5\r\nextra\r\n", "abc|finished"},
            {"1\r\nx\r\n\r\n\r\n", "x|failed"},  // no size after a chunk
            {"1\r\naX\n0\r\n\r\n", "a|failed"},
            {"0\r\nX: 1\r\n\n", "|failed"},
        };
        for (const Case &c : rows)
            QTest::newRow(QByteArray(c.in).replace('\r', "\\r").replace('\n', "\\n")) << c;
    }
    void read()
    {
        QFETCH(Case, c);
        // What follows a header's blank line decides nothing about it.
        const bool body = c.want.contains('|');
        const QByteArray in = body ? "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + c.in
                                   : c.in + "\r\nHTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\n";
        const qsizetype end = in.indexOf("\r\n\r\n") + 4, line = in.indexOf("\r\n");
        // Three arrivals, the second of up to two bytes, cut so as to spread the
        // status line's and the blank line's CR LF over them.
        for (const qsizetype a : {line + 1, end - 3, end - 2, end - 1, in.size() - 1})
            for (const qsizetype b : {0, 1, 2}) {
                HeaderScanner scanner;
                ChunkedDecoder chunks;
                QByteArray out;
                for (const QByteArray &piece : {in.left(a), in.mid(a, b), in.mid(a + b)})
                    if (const qsizetype start = scanner.feed(piece); start >= 0)
                        chunks.feed(piece.mid(start), out);
                const QByteArray &h = scanner.header();
                QCOMPARE(h, in.left(end));
                const char *names[] = {"unknown", "200", "206", "404", "error"};
                const char *ends[] = {"|waiting", "|finished", "|failed"};
                const auto n = [](qint64 v) { return ' ' + QByteArray::number(v); };
                QCOMPARE(body ? out + ends[chunks.failed() ? 2 : chunks.finished()]
                              : names[int(scanner.status())] + n(contentLength(h).value_or(-1))
                                    + n(isChunked(h)) + n(contentRangeStart(h).value_or(-1)),
                         c.want);
            }
    }
    void headerBound()
    {
        // A header still without its end at the bound is not too long; one byte
        // more is, and from then on nothing more is kept or looked at.
        HeaderScanner scanner;
        QVERIFY(scanner.feed(QByteArray(MaxHeaderBytes, 'x')) < 0 && !scanner.tooLong());
        QCOMPARE(scanner.feed("x") + scanner.feed("\r\n\r\n"), -2);
        QVERIFY(scanner.tooLong() && scanner.header().size() == MaxHeaderBytes + 1);
    }
};

QTEST_APPLESS_MAIN(TestResponse)
#include "tst_response.moc"
