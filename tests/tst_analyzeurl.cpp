// A task's URL as far as the wire: cut into host, connection target, port and
// file name, then the exact GET request made of the parts; the names files
// are saved under.
#include "engine/analyzeurl.h"
#include "engine/requestplan.h"
#include "tasks/filenames.h"

#include <QtTest>

// Request inputs are written with their leading fields only, the rest left empty.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

struct Case {
    // "CONNECT-HOST,PORT,FILE|TARGET|HOST" and any more request lines before
    // "Connection" (the GET line holds TARGET, the Host line HOST); or
    // "unusable".
    QString url, want;
    // Proxy, account and sizes; the URL's parts are filled in.
    RequestInput in = {};
};
Q_DECLARE_METATYPE(Case)

class TestAnalyzeUrl : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void request_data()
    {
        QTest::addColumn<Case>("c");
        // A port written in the host is the port of the direct connection;
        // the Host line keeps it. A Range line only when the length is known.
        // Direct, an account is not sent.
        QTest::newRow("port, query, resumed")
            << Case{"http://h:65535/f?a=%20",
                    "h,65535,f?a=%20|/f?a=%20|h:65535|Range: bytes=3000000000-",
                    {false, {}, {}, {}, "u", "p", 4000000000, 3000000000, false, {}}};
        // The file's validator right after the Range line, and only with one;
        // a count past the known size asks for the whole file again.
        QTest::newRow("validator, count past the size")
            << Case{"http://h/f",
                    "h,80,f|/f|h|Range: bytes=0-|If-Range: \"x-1\"",
                    {false, {}, {}, {}, {}, {}, 100, 101, false, "\"x-1\""}};
        QTest::newRow("validator, no length")
            << Case{"http://h/f", "h,80,f|/f|h", {false, {}, {}, {}, {}, {}, 0, 7, false, "v"}};
        QTest::newRow("ipv6, port, no length")
            << Case{"http://[::1]:8080/d/f", "::1,8080,f|/d/f|[::1]:8080"};
        // Through a proxy: the whole URL, and the Base64 text of the GBK
        // bytes of "ACCOUNT:PASSWORD" when there is an account.
        const QString date = "Mon, 07 Dec 2026 07:06:38 GMT";
        const RequestInput proxied{true, {}, {}, {}, "用户", "密码x", 100, 0, false, date};
        QTest::newRow("proxy, Chinese account, nothing yet")
            << Case{"http://h/f",
                    "h,80,f|http://h/f|h|Proxy-Authorization: Basic 08O7pzrD3MLreA==|Range: "
                    "bytes=0-|If-Range: "
                        + date,
                    proxied};
        // Control characters would go straight into the request line.
        for (const char *form : {"http://h%1/f", "http://h/a%1b"})
            for (int c = 0; c < 0x80; c = c == 0x1F ? 0x7F : c + 1)
                QTest::addRow("0x%02x in %s", c, form)
                    << Case{QString::fromLatin1(form).arg(QChar(c)), "unusable"};
    }
    void request()
    {
        QFETCH(Case, c);
        UrlParts p;
        QCOMPARE(analyzeUrl(c.url, p), c.want != "unusable");
        if (c.want == "unusable")
            return;
        c.in.mPath = p.mPath, c.in.DownUrl = c.url, c.in.mHost = p.mHost;
        QStringList want = c.want.split(u'|');
        const char *fixed = "|Accept: */*|Accept-Language: zh-cn|Accept-Encoding: identity";
        want[1] = "GET " + want[1] + " HTTP/1.1" + fixed + "|User-Agent: Zipvane1.0";
        want[2] = "Host: " + want[2];
        const QStringList parts{p.mConnectHost, QString::number(p.mPort), p.mFile};
        QCOMPARE(parts.join(u',') + "\r\n" + BuildRequest(c.in),
                 QString(want.join(u'|') + "|Connection: close||").replace(u'|', "\r\n"));
    }

    // Whatever a URL or a server says, the name stays inside the folder.
    void fileNames_data()
    {
        QTest::addColumn<QString>("got");
        QTest::addColumn<QString>("want");
        using namespace FileNames;
        const auto disposition = [](const QByteArray &value) {
            return safe(fromContentDisposition(value).value_or(QString()), "url.bin");
        };
        QTest::newRow("url: query and fragment")
            << fromUrl("http://h/d/medium100m.bin?rate=1500000#x") << "medium100m.bin";
        QTest::newRow("url: decoded") << fromUrl("https://h/%E4%B8%8B%20a.zip") << "下 a.zip";
        QTest::newRow("url: folder") << fromUrl("http://h/d/?q=/x.bin") << "index.html";
        QTest::newRow("url: host only") << fromUrl("http://h:81") << "index.html";
        QTest::newRow("url: encoded slash") << safe(fromUrl("http://h/..%2F..%2Fx")) << "_.._x";
        QTest::newRow("cd: filename*") << disposition(
            "attachment; filename=\"plain.txt\"; filename*=UTF-8''%E6%96%87%E4%BB%B6.txt")
                                       << "文件.txt";
        QTest::newRow("cd: latin-1")
            << disposition("attachment;filename*=iso-8859-1'en'%A3.txt") << "£.txt";
        QTest::newRow("cd: quoted")
            << disposition("inline; filename = \"a \\\"b\\\";c.txt\"") << "a \"b\";c.txt";
        QTest::newRow("cd: token") << disposition("attachment; filename=t.bin") << "t.bin";
        QTest::newRow("cd: climbs out")
            << disposition("attachment; filename=\"../../x\"") << "_.._x";
        QTest::newRow("cd: absolute")
            << disposition("attachment; filename=/etc/passwd") << "_etc_passwd";
        QTest::newRow("cd: control characters")
            << safe(QString::fromUtf8("a\0b\r\nc\x7f.txt", 11)) << "abc.txt";
        QTest::newRow("cd: empty") << disposition("attachment; filename=\"\"") << "url.bin";
        QTest::newRow("cd: none") << disposition("attachment") << "url.bin";
        QTest::newRow("dots only") << safe("..", "..") << "index.html";
        QTest::newRow("leading dot") << safe(".bashrc") << "bashrc";
        const QString longName = safe(QString(300, u'名') + ".tar.gz");
        QTest::newRow("300 characters: 255 bytes, extension kept")
            << QString::number(longName.toUtf8().size()) + longName.right(4) << "255名.gz";
        QTest::newRow("numbered") << numbered("a.tar.gz", 1) + "|" + numbered(".bashrc", 2) + "|"
                                         + numbered("README", 3)
                                  << "a.tar (1).gz|.bashrc (2)|README (3)";
        const QStringList taken{"/d/f.bin", "/d/f (1).bin"};
        QTest::newRow("free path")
            << freePath("/d", "f.bin", [&](const QString &p) { return taken.contains(p); })
            << "/d/f (2).bin";
        const QString full = QString(251, u'x') + ".bin";
        const QString free
            = freePath("/d", full, [&](const QString &p) { return p == "/d/" + full; });
        QTest::newRow("free path, a full name keeps its number")
            << QString::number(free.size() - 3) + free.right(8) << "255 (1).bin";
    }
    void fileNames()
    {
        QFETCH(QString, got);
        QFETCH(QString, want);
        QCOMPARE(got, want);
    }
};

QTEST_APPLESS_MAIN(TestAnalyzeUrl)
#include "tst_analyzeurl.moc"
