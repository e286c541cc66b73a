// Cutting a task's URL into host, connection target, path and file name.
#include "engine/analyzeurl.h"

#include <QtTest>

class TestAnalyzeUrl : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cuts_data();
    void cuts();
};

void TestAnalyzeUrl::cuts_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("connectHost");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("file");

    // Parts left unwritten by a failing URL keep the sentinels "old" and 1234.
    const QString old = QStringLiteral("old");
    const int oldPort = 1234;

    QTest::newRow("plain") << "http://h/dir/file.zip" << true << "h" << "h" << 80
                           << "/dir/file.zip" << "file.zip";
    QTest::newRow("no slash after host") << "http://h" << false << old << old << 80 << old << old;
    QTest::newRow("root") << "http://h/" << true << "h" << "h" << 80 << "/" << "";
    QTest::newRow("query") << "http://h/get.php?id=1" << true << "h" << "h" << 80
                           << "/get.php?id=1" << "get.php?id=1";
    QTest::newRow("slash in query") << "http://h/a?u=x/y" << true << "h" << "h" << 80
                                    << "/a?u=x/y" << "y";
    QTest::newRow("upper-case scheme") << "HTTP://h/f" << false << old << old << oldPort << old << old;
    QTest::newRow("ftp") << "ftp://h/f" << false << old << old << oldPort << old << old;
    QTest::newRow("empty") << "" << false << old << old << oldPort << old << old;
    // The last "/" is the one right after the scheme: host and path are cut
    // before that is found, so they stay written.
    QTest::newRow("no host, no path") << "http:///f" << false << "" << "" << 80 << "/f" << old;
    QTest::newRow("leading blank") << " http://h/f" << true << "" << "" << 80 << "/h/f" << "f";
    QTest::newRow("escapes untouched") << "http://h/a%20b/c d.zip" << true << "h" << "h" << 80
                                       << "/a%20b/c d.zip" << "c d.zip";
    QTest::newRow("fragment untouched") << "http://h/a#x/y" << true << "h" << "h" << 80
                                        << "/a#x/y" << "y";
    QTest::newRow("chinese path") << QString::fromUtf8("http://h/下载/文件.zip") << true
                                  << "h" << "h" << 80 << QString::fromUtf8("/下载/文件.zip")
                                  << QString::fromUtf8("文件.zip");

    // A port written in the host is the port of the direct connection; the
    // Host line keeps it.
    QTest::newRow("port") << "http://h:8080/f" << true << "h:8080" << "h" << 8080 << "/f" << "f";
    QTest::newRow("port 1") << "http://h:1/f" << true << "h:1" << "h" << 1 << "/f" << "f";
    QTest::newRow("port 65535") << "http://h:65535/f" << true << "h:65535" << "h" << 65535
                                << "/f" << "f";
    QTest::newRow("port 0") << "http://h:0/f" << false << "h:0" << "h" << 80 << old << old;
    QTest::newRow("port 65536") << "http://h:65536/f" << false << "h:65536" << "h" << 80
                                << old << old;
    QTest::newRow("port huge") << "http://h:99999999999/f" << false << "h:99999999999" << "h"
                               << 80 << old << old;
    QTest::newRow("port letters") << "http://h:abc/f" << false << "h:abc" << "h" << 80
                                  << old << old;
    QTest::newRow("port signed") << "http://h:+80/f" << false << "h:+80" << "h" << 80
                                 << old << old;
    QTest::newRow("port empty") << "http://h:/f" << false << "h:" << "h" << 80 << old << old;
    QTest::newRow("ipv6 port") << "http://[::1]:8080/f" << true << "[::1]:8080" << "::1" << 8080
                               << "/f" << "f";
    QTest::newRow("ipv6") << "http://[::1]/f" << true << "[::1]" << "::1" << 80 << "/f" << "f";
    QTest::newRow("ipv6 unclosed") << "http://[::1/f" << false << "[::1" << old << 80
                                   << old << old;
    QTest::newRow("ipv6 junk after") << "http://[::1]x/f" << false << "[::1]x" << "::1" << 80
                                     << old << old;
    QTest::newRow("ipv6 without brackets") << "http://::1/f" << false << "::1" << "" << 80
                                           << old << old;

    // Control characters would go straight into the request line.
    QTest::newRow("CR LF") << "http://h/f\r\nX-Evil: 1" << false << old << old << oldPort << old << old;
    QTest::newRow("LF in host") << "http://h\n/f" << false << old << old << oldPort << old << old;
    QTest::newRow("tab") << "http://h/a\tb" << false << old << old << oldPort << old << old;
    QTest::newRow("NUL") << QString::fromLatin1("http://h/a\0b", 12) << false << old << old << oldPort
                         << old << old;
    QTest::newRow("DEL") << "http://h/a\x7f" << false << old << old << oldPort << old << old;
}

void TestAnalyzeUrl::cuts()
{
    QFETCH(QString, url);
    QFETCH(bool, ok);
    QFETCH(QString, host);
    QFETCH(QString, connectHost);
    QFETCH(int, port);
    QFETCH(QString, path);
    QFETCH(QString, file);

    const QString old = QStringLiteral("old");
    UrlParts parts;
    parts.mHost = parts.mConnectHost = parts.mPath = parts.mFile = old;
    parts.mPort = 1234;

    QCOMPARE(analyzeUrl(url, parts), ok);
    QCOMPARE(parts.mHost, host);
    QCOMPARE(parts.mConnectHost, connectHost);
    QCOMPARE(parts.mPort, port);
    QCOMPARE(parts.mPath, path);
    QCOMPARE(parts.mFile, file);
}

QTEST_APPLESS_MAIN(TestAnalyzeUrl)
#include "tst_analyzeurl.moc"
