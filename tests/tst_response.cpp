// Reading a response header that arrives in pieces, and decoding a chunked
// body, at every way the bytes may be split between arrivals.
#include "engine/response.h"

#include <QtTest>

using Response::Status;

Q_DECLARE_METATYPE(Response::Status)

class TestResponse : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void status_data();
    void status();
    void fields_data();
    void fields();
    void headerEnd_data();
    void headerEnd();
    void headerBound_data();
    void headerBound();
    void chunked_data();
    void chunked();
};

namespace {

// Cuts `bytes` at the given positions (ascending) into arrivals.
QList<QByteArray> cutAt(const QByteArray &bytes, const QList<int> &cuts)
{
    QList<QByteArray> pieces;
    int from = 0;
    for (int cut : cuts) {
        pieces.append(bytes.mid(from, cut - from));
        from = cut;
    }
    pieces.append(bytes.mid(from));
    return pieces;
}

QList<QByteArray> inPiecesOf(const QByteArray &bytes, int size)
{
    QList<QByteArray> pieces;
    for (int i = 0; i < bytes.size(); i += size)
        pieces.append(bytes.mid(i, size));
    return pieces;
}

} // namespace

void TestResponse::status_data()
{
    QTest::addColumn<QByteArray>("statusLine");
    QTest::addColumn<Status>("expected");

    QTest::newRow("1.1 200") << QByteArray("HTTP/1.1 200 OK") << Status::Ok200;
    QTest::newRow("1.0 200") << QByteArray("HTTP/1.0 200 OK") << Status::Ok200;
    QTest::newRow("200 other case") << QByteArray("HTTP/1.1 200 Ok") << Status::Error;
    QTest::newRow("200 reason only") << QByteArray("HTTP/1.1 200") << Status::Error;
    QTest::newRow("1.1 206") << QByteArray("HTTP/1.1 206 Partial Content") << Status::Partial206;
    QTest::newRow("1.1 206 bare") << QByteArray("HTTP/1.1 206") << Status::Partial206;
    QTest::newRow("1.0 206") << QByteArray("HTTP/1.0 206 Partial Content") << Status::Partial206;
    QTest::newRow("1.0 206 bare") << QByteArray("HTTP/1.0 206") << Status::Error;
    QTest::newRow("1.1 404") << QByteArray("HTTP/1.1 404 Not Found") << Status::NotFound404;
    QTest::newRow("1.0 404") << QByteArray("HTTP/1.0 404 Not Found") << Status::NotFound404;
    QTest::newRow("1.0 404 bare") << QByteArray("HTTP/1.0 404") << Status::Error;
    QTest::newRow("redirect") << QByteArray("HTTP/1.1 302 Found") << Status::Error;
    QTest::newRow("server error") << QByteArray("HTTP/1.1 500 Internal Server Error")
                                  << Status::Error;
    QTest::newRow("HTTP/2 text") << QByteArray("HTTP/2 200 OK") << Status::Error;
    QTest::newRow("lower-case protocol") << QByteArray("http/1.1 200 OK") << Status::Error;
    QTest::newRow("leading blank") << QByteArray(" HTTP/1.1 200 OK") << Status::Error;
    QTest::newRow("empty") << QByteArray() << Status::Error;
}

void TestResponse::status()
{
    QFETCH(QByteArray, statusLine);
    QFETCH(Status, expected);

    QCOMPARE(Response::classifyStatusLine(statusLine), expected);

    // Through the scanner, in pieces: the status is known exactly when the
    // status line's CR LF has arrived, and only the status line decides,
    // whatever the rest of the header and the body say.
    const QByteArray response = statusLine + "\r\nX-Note: HTTP/1.1 200 OK\r\n\r\nHTTP/1.1 200 OK";
    const int lineEnd = int(statusLine.size()) + 2;
    for (int size : {1, 2, 3, 5, 1000}) {
        HeaderScanner scanner;
        int fed = 0;
        for (const QByteArray &piece : inPiecesOf(response, size)) {
            scanner.feed(piece);
            fed += int(piece.size());
            QCOMPARE(scanner.status(), fed >= lineEnd ? expected : Status::Unknown);
        }
        QVERIFY(scanner.done());
    }
}

void TestResponse::fields_data()
{
    QTest::addColumn<QByteArray>("fieldLines");
    QTest::addColumn<qint64>("length");   // -1: unknown
    QTest::addColumn<bool>("chunked");
    QTest::addColumn<qint64>("rangeStart");   // -1: none

    QTest::newRow("none") << QByteArray("Server: x\r\n") << qint64(-1) << false << qint64(-1);
    QTest::newRow("length") << QByteArray("Content-Length: 500\r\n") << qint64(500) << false
                            << qint64(-1);
    QTest::newRow("length, lower case") << QByteArray("content-length: 500\r\n") << qint64(500)
                                        << false << qint64(-1);
    QTest::newRow("length, no blank") << QByteArray("Content-Length:12345\r\n") << qint64(12345)
                                      << false << qint64(-1);
    QTest::newRow("length, blanks and tabs") << QByteArray("CONTENT-LENGTH: \t 77 \t\r\n")
                                             << qint64(77) << false << qint64(-1);
    QTest::newRow("length 0") << QByteArray("Content-Length: 0\r\n") << qint64(0) << false
                              << qint64(-1);
    QTest::newRow("length at the limit") << QByteArray("Content-Length: 2147483647\r\n")
                                         << qint64(2147483647) << false << qint64(-1);
    QTest::newRow("length above the limit") << QByteArray("Content-Length: 2147483648\r\n")
                                            << qint64(-1) << false << qint64(-1);
    QTest::newRow("length far above") << QByteArray("Content-Length: 99999999999999999999999\r\n")
                                      << qint64(-1) << false << qint64(-1);
    QTest::newRow("length negative") << QByteArray("Content-Length: -5\r\n") << qint64(-1)
                                     << false << qint64(-1);
    QTest::newRow("length not a number") << QByteArray("Content-Length: abc\r\n") << qint64(-1)
                                         << false << qint64(-1);
    QTest::newRow("length empty") << QByteArray("Content-Length:\r\n") << qint64(-1) << false
                                  << qint64(-1);
    QTest::newRow("length, two numbers") << QByteArray("Content-Length: 1 2\r\n") << qint64(-1)
                                         << false << qint64(-1);
    QTest::newRow("first length wins") << QByteArray("Content-Length: 10\r\nContent-Length: 20\r\n")
                                       << qint64(10) << false << qint64(-1);
    QTest::newRow("other field ending in the name")
        << QByteArray("X-Content-Length: 9\r\n") << qint64(-1) << false << qint64(-1);
    QTest::newRow("length line not finished") << QByteArray("Content-Length: 12")
                                              << qint64(-1) << false << qint64(-1);
    QTest::newRow("length in the body") << QByteArray("\r\nContent-Length: 12\r\n") << qint64(-1)
                                        << false << qint64(-1);
    QTest::newRow("chunked") << QByteArray("Transfer-Encoding: chunked\r\n") << qint64(-1)
                             << true << qint64(-1);
    QTest::newRow("chunked, any case") << QByteArray("transfer-encoding:  CHUNKED \r\n")
                                       << qint64(-1) << true << qint64(-1);
    QTest::newRow("chunked last") << QByteArray("Transfer-Encoding: gzip, chunked\r\n")
                                  << qint64(-1) << true << qint64(-1);
    QTest::newRow("chunked not last") << QByteArray("Transfer-Encoding: chunked, gzip\r\n")
                                      << qint64(-1) << false << qint64(-1);
    QTest::newRow("chunked in the second line")
        << QByteArray("Transfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n") << qint64(-1)
        << true << qint64(-1);
    QTest::newRow("range") << QByteArray("Content-Range: bytes 1000-4999/5000\r\n"
                                         "Content-Length: 4000\r\n")
                           << qint64(4000) << false << qint64(1000);
    QTest::newRow("range, any case") << QByteArray("content-range: BYTES 0-9/10\r\n")
                                     << qint64(-1) << false << qint64(0);
    QTest::newRow("range, unknown total") << QByteArray("Content-Range: bytes 3000000000-3000000009/*\r\n")
                                          << qint64(-1) << false << qint64(3000000000);
    QTest::newRow("range unsatisfied") << QByteArray("Content-Range: bytes */5000\r\n")
                                       << qint64(-1) << false << qint64(-1);
    QTest::newRow("range, other unit") << QByteArray("Content-Range: items 1-2/3\r\n")
                                       << qint64(-1) << false << qint64(-1);
}

void TestResponse::fields()
{
    QFETCH(QByteArray, fieldLines);
    QFETCH(qint64, length);
    QFETCH(bool, chunked);
    QFETCH(qint64, rangeStart);

    const QByteArray header = "HTTP/1.1 200 OK\r\n" + fieldLines;
    QCOMPARE(Response::contentLength(header).value_or(-1), length);
    QCOMPARE(Response::isChunked(header), chunked);
    QCOMPARE(Response::contentRangeStart(header).value_or(-1), rangeStart);

    // The status line is no field line, whatever it holds.
    if (fieldLines.count("\r\n") == 1 && !fieldLines.startsWith("\r\n")) {
        const QByteArray onStatusLine = fieldLines + "\r\n";
        QCOMPARE(Response::contentLength(onStatusLine).value_or(-1), qint64(-1));
        QCOMPARE(Response::isChunked(onStatusLine), false);
        QCOMPARE(Response::contentRangeStart(onStatusLine).value_or(-1), qint64(-1));
    }
}

void TestResponse::headerEnd_data()
{
    QTest::addColumn<QList<int>>("cuts");

    const QByteArray response = "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc";
    for (int k = 0; k <= response.size(); ++k)
        QTest::addRow("cut at %d", k) << QList<int>{k};
    // Two cuts inside the blank line and the line before it: the end is
    // spread over three arrivals, none holding all four bytes.
    const int end = int(response.indexOf("\r\n\r\n"));
    for (int a = end - 2; a <= end + 4; ++a) {
        for (int b = a + 1; b <= end + 4; ++b)
            QTest::addRow("cuts at %d and %d", a, b) << QList<int>{a, b};
    }
}

void TestResponse::headerEnd()
{
    QFETCH(QList<int>, cuts);

    const QByteArray header = "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n";
    const QByteArray response = header + "abc";
    HeaderScanner scanner;
    QByteArray body;
    int pieceStart = 0;
    for (const QByteArray &piece : cutAt(response, cuts)) {
        const bool wasDone = scanner.done();
        const qsizetype start = scanner.feed(piece);
        const int pieceEnd = pieceStart + int(piece.size());
        if (wasDone) {
            QCOMPARE(start, 0);
        } else if (pieceEnd >= header.size()) {
            // A header ending at the arrival's last byte gives start == size.
            QCOMPARE(start, header.size() - pieceStart);
        } else {
            QCOMPARE(start, -1);
        }
        if (start >= 0)
            body += piece.mid(start);
        pieceStart = pieceEnd;
    }
    QVERIFY(scanner.done());
    QVERIFY(!scanner.tooLong());
    QCOMPARE(scanner.header(), header);
    QCOMPARE(scanner.status(), Status::Ok200);
    QCOMPARE(body, QByteArray("abc"));
    QCOMPARE(Response::contentLength(scanner.header()).value_or(-1), qint64(3));
}

void TestResponse::headerBound_data()
{
    QTest::addColumn<int>("fillerBytes");
    QTest::addColumn<bool>("ends");
    QTest::addColumn<bool>("tooLong");

    const int statusLine = int(qstrlen("HTTP/1.1 200 OK\r\n"));
    const int bound = int(Response::MaxHeaderBytes);
    QTest::newRow("at the bound, no end") << bound - statusLine << false << false;
    QTest::newRow("one past the bound, no end") << bound - statusLine + 1 << false << true;
    QTest::newRow("far past the bound") << 4 * bound << false << true;
    QTest::newRow("long, but ended") << bound - statusLine - 4 << true << false;
}

void TestResponse::headerBound()
{
    QFETCH(int, fillerBytes);
    QFETCH(bool, ends);
    QFETCH(bool, tooLong);

    // One very long header line, so no blank line can appear in it.
    QByteArray header = "HTTP/1.1 200 OK\r\n" + QByteArray(fillerBytes, 'x');
    if (ends)
        header += "\r\n\r\n";
    HeaderScanner scanner;
    for (const QByteArray &piece : inPiecesOf(header, 1000))
        scanner.feed(piece);
    QCOMPARE(scanner.done(), ends);
    QCOMPARE(scanner.tooLong(), tooLong);
    // Once too long, further arrivals are not kept.
    QVERIFY(scanner.header().size() <= Response::MaxHeaderBytes + 1000);
}

void TestResponse::chunked_data()
{
    QTest::addColumn<QByteArray>("encoded");
    QTest::addColumn<QByteArray>("decoded");
    QTest::addColumn<QString>("outcome");   // "finished", "failed" or "waiting"

    QByteArray seven = "abcdefg";
    QByteArray big(4096, Qt::Uninitialized);
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 7 + i / 256);

    QTest::newRow("one byte") << QByteArray("1\r\nx\r\n0\r\n\r\n") << QByteArray("x")
                              << "finished";
    QTest::newRow("seven bytes") << "7\r\n" + seven + "\r\n0\r\n\r\n" << seven << "finished";
    QTest::newRow("4096 bytes") << "1000\r\n" + big + "\r\n0\r\n\r\n" << big << "finished";
    QTest::newRow("several chunks") << "1\r\nx\r\n7\r\n" + seven + "\r\n3\r\nEND\r\n0\r\n\r\n"
                                    << "x" + seven + "END" << "finished";
    QTest::newRow("hex letters") << QByteArray("a\r\n0123456789\r\nB\r\nhello world\r\n0\r\n\r\n")
                                 << QByteArray("0123456789hello world") << "finished";
    QTest::newRow("leading zeros") << QByteArray("0003\r\nabc\r\n000\r\n\r\n")
                                   << QByteArray("abc") << "finished";
    QTest::newRow("data holding CR LF") << QByteArray("4\r\n\r\n\r\n\r\n0\r\n\r\n")
                                        << QByteArray("\r\n\r\n") << "finished";
    QTest::newRow("extensions") << QByteArray("3;name=\"v;x\"\r\nabc\r\n0;last\r\n\r\n")
                                << QByteArray("abc") << "finished";
    QTest::newRow("blank before extension") << QByteArray("3 ;a=b\r\nabc\r\n0\r\n\r\n")
                                            << QByteArray("abc") << "finished";
    QTest::newRow("trailers") << QByteArray("3\r\nabc\r\n0\r\nX-Sum: 1\r\nX-Other: 2\r\n\r\n")
                              << QByteArray("abc") << "finished";
    QTest::newRow("bytes after the end ignored")
        << QByteArray("3\r\nabc\r\n0\r\n\r\n5\r\nextra\r\nHTTP/1.1 200 OK\r\n")
        << QByteArray("abc") << "finished";
    QTest::newRow("cut off in data") << QByteArray("5\r\nab") << QByteArray("ab") << "waiting";
    QTest::newRow("cut off before trailers end") << QByteArray("1\r\nx\r\n0\r\nX: 1\r\n")
                                                 << QByteArray("x") << "waiting";
    QTest::newRow("largest size accepted") << QByteArray("10000000000\r\nab")
                                           << QByteArray("ab") << "waiting";

    QTest::newRow("size not hex") << QByteArray("zz\r\nab\r\n0\r\n\r\n") << QByteArray()
                                  << "failed";
    QTest::newRow("size missing") << QByteArray("\r\nab\r\n0\r\n\r\n") << QByteArray()
                                  << "failed";
    QTest::newRow("size signed") << QByteArray("-1\r\nab\r\n") << QByteArray() << "failed";
    QTest::newRow("size absurd") << QByteArray("10000000001\r\nab") << QByteArray() << "failed";
    QTest::newRow("size overflowing") << QByteArray("FFFFFFFFFFFFFFFFFFFF\r\n") << QByteArray()
                                      << "failed";
    QTest::newRow("bare LF after size") << QByteArray("3\nabc\r\n0\r\n\r\n") << QByteArray()
                                        << "failed";
    QTest::newRow("no CR LF after data") << QByteArray("1\r\naX\r\n0\r\n\r\n") << QByteArray("a")
                                         << "failed";
    QTest::newRow("CR without LF after data") << QByteArray("1\r\na\rX0\r\n\r\n")
                                              << QByteArray("a") << "failed";
    QTest::newRow("data longer than its size") << QByteArray("2\r\nabc\r\n0\r\n\r\n")
                                               << QByteArray("ab") << "failed";
    QTest::newRow("bare LF in trailer") << QByteArray("0\r\nX: 1\n\r\n") << QByteArray()
                                        << "failed";
}

void TestResponse::chunked()
{
    QFETCH(QByteArray, encoded);
    QFETCH(QByteArray, decoded);
    QFETCH(QString, outcome);

    QList<QList<QByteArray>> splits;
    splits.append({encoded});
    splits.append(inPiecesOf(encoded, 1));
    splits.append(inPiecesOf(encoded, 3));
    for (int k = 1; k < encoded.size(); ++k)
        splits.append(cutAt(encoded, {k}));

    for (const QList<QByteArray> &pieces : splits) {
        ChunkedDecoder decoder;
        QByteArray out;
        bool ok = true;
        for (const QByteArray &piece : pieces)
            ok = decoder.feed(piece, out) && ok;
        const QString what = QStringLiteral("%1 pieces").arg(pieces.size());
        QVERIFY2(out == decoded, qPrintable(what));
        QVERIFY2(ok == (outcome != QLatin1String("failed")), qPrintable(what));
        QVERIFY2(decoder.failed() == (outcome == QLatin1String("failed")), qPrintable(what));
        QVERIFY2(decoder.finished() == (outcome == QLatin1String("finished")), qPrintable(what));
    }
}

QTEST_APPLESS_MAIN(TestResponse)
#include "tst_response.moc"
