// Cutting a task's URL into host, connection target, path and file name.
#include "engine/analyzeurl.h"

#include <QtTest>

class TestAnalyzeUrl : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cuts_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("ok");
        // host|connect host|port|path|file; parts a failing URL leaves unwritten
        // keep the sentinels "old" and 1234.
        QTest::addColumn<QString>("parts");

        QTest::newRow("plain") << "http://h/dir/file.zip" << true << "h|h|80|/dir/file.zip|file.zip";
        QTest::newRow("no slash after host") << "http://h" << false << "old|old|80|old|old";
        QTest::newRow("root") << "http://h/" << true << "h|h|80|/|";
        QTest::newRow("query") << "http://h/get.php?id=1" << true << "h|h|80|/get.php?id=1|get.php?id=1";
        QTest::newRow("upper-case scheme") << "HTTP://h/f" << false << "old|old|1234|old|old";
        QTest::newRow("ftp") << "ftp://h/f" << false << "old|old|1234|old|old";
        // The last "/" is the one right after the scheme: host and path are cut
        // before that is found, so they stay written.
        QTest::newRow("no host, no path") << "http:///f" << false << "||80|/f|old";
        QTest::newRow("leading blank") << " http://h/f" << true << "||80|/h/f|f";
        // A port written in the host is the port of the direct connection; the
        // Host line keeps it.
        QTest::newRow("port") << "http://h:8080/f" << true << "h:8080|h|8080|/f|f";
        QTest::newRow("port 65535") << "http://h:65535/f" << true << "h:65535|h|65535|/f|f";
        QTest::newRow("port 0") << "http://h:0/f" << false << "h:0|h|80|old|old";
        QTest::newRow("port 65536") << "http://h:65536/f" << false << "h:65536|h|80|old|old";
        QTest::newRow("port letters") << "http://h:abc/f" << false << "h:abc|h|80|old|old";
        QTest::newRow("port signed") << "http://h:+80/f" << false << "h:+80|h|80|old|old";
        QTest::newRow("port empty") << "http://h:/f" << false << "h:|h|80|old|old";
        QTest::newRow("ipv6 port") << "http://[::1]:8080/f" << true << "[::1]:8080|::1|8080|/f|f";
        QTest::newRow("ipv6 unclosed") << "http://[::1/f" << false << "[::1|old|80|old|old";
        // Control characters would go straight into the request line.
        for (const char *form : {"http://h%1/f", "http://h/a%1b"})
            for (const char c : {'\r', '\n', '\t', '\0', '\x7f'})
                QTest::addRow("0x%02x in %s", c, form) << QString::fromLatin1(form).arg(QChar(c)) << false << "old|old|1234|old|old";
    }
    void cuts()
    {
        QFETCH(QString, url);
        QFETCH(bool, ok);
        QFETCH(QString, parts);
        UrlParts got;
        got.mHost = got.mConnectHost = got.mPath = got.mFile = QStringLiteral("old");
        got.mPort = 1234;
        QCOMPARE(analyzeUrl(url, got), ok);
        QCOMPARE(QStringList({got.mHost, got.mConnectHost, QString::number(got.mPort), got.mPath, got.mFile}).join(u'|'), parts);
    }
};

QTEST_APPLESS_MAIN(TestAnalyzeUrl)
#include "tst_analyzeurl.moc"
