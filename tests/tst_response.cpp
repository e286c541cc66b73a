// A response as it arrives: its header read from arrivals cut anywhere, then
// a chunked body decoded from what follows.
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
        // Each row is named after its bytes. Status lines: the recognised texts
        // only, in their case, at the line's start.
        const Case rows[] = {
            {"HTTP/1.1 200\r\n", "error -1 0 -1"},
            {"HTTP/1.0 206\r\n", "error -1 0 -1"},
            {"HTTP/1.0 404 Not Found\r\n", "404 -1 0 -1"},
            {"HTTP/1.0 404\r\n", "error -1 0 -1"},
            {"http/1.1 200 OK\r\n", "error -1 0 -1"},
            {" HTTP/1.1 200 OK\r\n", "error -1 0 -1"},
            {"Content-Length: 5\r\n", "error -1 0 -1"},  // the status line is no field line
            // Fields: a name at a line's start in any case; a length of digits
            // only, blanks around them, at most 2147483647; the last coding of
            // all Transfer-Encoding lines; a range in bytes.
            {ok + "X-" + length + "9\r\n" + length + "5\r\n", "200 5 0 -1"},
            {"HTTP/1.0 200 OK\r\ncontent-LENGTH:12345\r\n", "200 12345 0 -1"},
            {ok + length + "\t 2147483647 \t\r\n", "200 2147483647 0 -1"},
            {ok + length + "2147483648\r\n", "200 -1 0 -1"},
            {"HTTP/1.1 404 x\r\n" + length + "-5\r\n", "404 -1 0 -1"},
            {ok + length + "12a\r\nContent-Range: items 1-2/3\r\n", "200 -1 0 -1"},
            {ok + "Transfer-Encoding: chunked, gzip\r\n", "200 -1 0 -1"},
            {ok + "Transfer-Encoding: gzip\r\ntransfer-encoding:  CHUNKED \r\n", "200 -1 1 -1"},
            {"HTTP/1.1 206\r\nContent-Range: bytes 1000-4999/5000\r\n" + length + "4000\r\n",
             "206 4000 0 1000"},
            {"HTTP/1.0 206 x\r\ncontent-range: BYTES 3000000000-3000000009/*\r\n",
             "206 -1 0 3000000000"},
            // Chunked bodies: sizes in either case, extensions, data holding CR LF.
            {"a ;q=\";\"\r\n0123456789\r\n00F\r\n\r\n\r\nabcdefghijk\r\n0;x\r\n\r\n",
             "0123456789\r\n\r\nabcdefghijk|finished"},
            {"3\r\nabc\r\n0\r\nX-Sum: 1\r\nX: 2\r\n\r\n5\r\nextra\r\n", "abc|finished"},
            {"1\r\nx\r\n0\r\nX: 1\r\n", "x|waiting"},
            {"10000000000\r\nab", "ab|waiting"},  // the largest size taken
            {"\r\nab\r\n0\r\n\r\n", "|failed"},
            {"1\r\nx\r\n\r\n\r\n", "x|failed"},  // no size after a chunk
            {"10000000001\r\nab", "|failed"},
            {"1 \r\nx\r\n0 x\r\n\r\n", "x|failed"},
            {"3\nabc\r\n0\r\n\r\n", "|failed"},
            {"1\r\naX\r\n0\r\n\r\n", "a|failed"},
            {"1\r\na\rX0\r\n\r\n", "a|failed"},
            {"0\r\nX: 1\n\r\n", "|failed"},
        };
        for (const Case &c : rows)
            QTest::newRow(QByteArray(c.in).replace('\r', "\\r").replace('\n', "\\n")) << c;
    }
    void read()
    {
        QFETCH(Case, c);
        static const QByteArray names[] = {"unknown", "200", "206", "404", "error"};
        static const char *const ends[] = {"|waiting", "|finished", "|failed"};
        // What follows a header's blank line decides nothing about it.
        const bool body = c.want.contains('|');
        const QByteArray in = body ? "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + c.in
                                   : c.in + "\r\nHTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\n";
        const qsizetype end = in.indexOf("\r\n\r\n") + 4, lineEnd = in.indexOf("\r\n") + 2;
        const QByteArray status = body ? "200" : c.want.left(c.want.indexOf(' '));
        // Three arrivals cut at every pair of places, so that the blank line may
        // be spread over three of them or end one. The status is known once the
        // status line's CR LF is in; a length is read from whole lines only;
        // feeding says whether the framing still holds.
        for (int a = 0; a <= in.size(); ++a)
            for (int b = a; b <= in.size(); ++b) {
                HeaderScanner scanner;
                ChunkedDecoder decoder;
                QByteArray out;
                qsizetype fed = 0;
                for (const QByteArray &piece : {in.left(a), in.mid(a, b - a), in.mid(b)}) {
                    const qsizetype start = scanner.feed(piece);
                    QCOMPARE(start, fed >= end ? 0 : fed + piece.size() >= end ? end - fed : -1);
                    fed += piece.size();
                    QCOMPARE(names[int(scanner.status())], fed >= lineEnd ? status : "unknown");
                    const auto length = contentLength(scanner.header());
                    QVERIFY(!length || length == contentLength(in.left(end)));
                    const bool framed = start < 0 || decoder.feed(piece.mid(start), out);
                    QCOMPARE(framed, !decoder.failed());
                }
                const QByteArray &h = scanner.header();
                QCOMPARE(h, in.left(end));
                const auto field = [](qint64 n) { return ' ' + QByteArray::number(n); };
                QCOMPARE(body ? out + ends[decoder.failed() ? 2 : decoder.finished()]
                              : names[int(scanner.status())] + field(contentLength(h).value_or(-1))
                                    + field(isChunked(h))
                                    + field(contentRangeStart(h).value_or(-1)),
                         c.want);
            }
    }
    void headerBound()
    {
        // A header still without its end at the bound is not too long; one byte
        // more is, and from then on nothing more is kept or looked at.
        HeaderScanner scanner;
        QCOMPARE(scanner.feed("HTTP/1.1 200 OK\r\n" + QByteArray(MaxHeaderBytes - 17, 'x')), -1);
        QVERIFY(!scanner.tooLong());
        QCOMPARE(scanner.feed("x"), -1);
        QVERIFY(scanner.tooLong());
        QCOMPARE(scanner.feed("\r\n\r\n"), -1);
        QCOMPARE(scanner.header().size(), MaxHeaderBytes + 1);
    }
};

QTEST_APPLESS_MAIN(TestResponse)
#include "tst_response.moc"
