// A task's URL as far as the wire: cut into host, connection target, path and
// file name, then the exact GET request made of the parts.
#include "engine/analyzeurl.h"
#include "engine/request.h"

#include <QtTest>

struct Case {
    QString url;
    // "CONNECT-HOST,PORT,FILE|TARGET|HOST" and any more request lines before
    // "Connection" (the GET line holds TARGET, the Host line HOST); or
    // "unusable:" and the parts a failed cut leaves written, as
    // HOST,CONNECT-HOST,PORT,PATH,FILE ("-" and 0: not written).
    QString want;
    // "ACCOUNT:PASSWORD" of a proxy to go through; empty: direct.
    QString proxy = {};
    qint64 length = 0, count = 0;
};
Q_DECLARE_METATYPE(Case)

class TestAnalyzeUrl : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void request_data()
    {
        QTest::addColumn<Case>("c");
        const std::pair<const char *, Case> rows[] = {
            {"plain", {"http://h/dir/file.zip", "h,80,file.zip|/dir/file.zip|h"}},
            {"root", {"http://h/", "h,80,|/|h"}},
            {"no slash after host", {"http://h", "unusable:-,-,80,-,-"}},
            {"upper-case scheme", {"HTTP://h/f", "unusable:-,-,0,-,-"}},
            // Host and path are cut before the last "/" is found right after the scheme.
            {"no host, no path", {"http:///f", "unusable:,,80,/f,-"}},
            {"leading blank", {" http://h/f", ",80,f|/h/f|"}},
            // A port written in the host is the port of the direct connection;
            // the Host line keeps it.
            {"port, query", {"http://h:8080/f?a=%20", "h,8080,f?a=%20|/f?a=%20|h:8080"}},
            {"port 65535", {"http://h:65535/f", "h,65535,f|/f|h:65535"}},
            {"port 0", {"http://h:0/f", "unusable:h:0,h,80,-,-"}},
            {"port 65536", {"http://h:65536/f", "unusable:h:65536,h,80,-,-"}},
            {"port signed", {"http://h:+80/f", "unusable:h:+80,h,80,-,-"}},
            {"ipv6", {"http://[::1]/f", "::1,80,f|/f|[::1]"}},
            {"ipv6, port", {"http://[::1]:8080/f", "::1,8080,f|/f|[::1]:8080"}},
            {"ipv6 unclosed", {"http://[::1/f", "unusable:[::1,-,80,-,-"}},
            // A Range line only when the length is known.
            {"resumed",
             {"http://h/f", "h,80,f|/f|h|Range: bytes=3000000000-", "", 4000000000, 3000000000}},
            {"length unknown", {"http://h/f", "h,80,f|/f|h", "", 0, 700}},
            {"nothing yet", {"http://h/f", "h,80,f|/f|h|Range: bytes=0-", "", 10, 0}},
            // Through a proxy: the whole URL, and the Base64 text of the GBK
            // bytes of "ACCOUNT:PASSWORD" when there is an account.
            {"proxy, no account", {"http://h:81/f", "h,81,f|http://h:81/f|h:81", ":secret"}},
            {"proxy, no password",
             {"http://h/f", "h,80,f|http://h/f|h|Proxy-Authorization: Basic dTo=", "u:"}},
            {"proxy, Chinese account",
             {"http://h/f", "h,80,f|http://h/f|h|Proxy-Authorization: Basic 08O7pzrD3MLreA==",
              QString::fromUtf8("用户:密码x")}},
            {"proxy, resumed",
             {"http://h/f", "h,80,f|http://h/f|h|Proxy-Authorization: Basic dTpw|Range: bytes=50-",
              "u:p", 100, 50}},
        };
        for (const auto &[name, c] : rows)
            QTest::newRow(name) << c;
        // Control characters would go straight into the request line.
        for (const char *form : {"http://h%1/f", "http://h/a%1b"})
            for (int c = 0; c < 0x80; c = c == 0x1F ? 0x7F : c + 1)
                QTest::addRow("0x%02x in %s", c, form)
                    << Case{QString::fromLatin1(form).arg(QChar(c)), "unusable:-,-,0,-,-"};
    }
    void request()
    {
        QFETCH(Case, c);
        UrlParts p{"-", "-", 0, "-", "-"};
        if (!analyzeUrl(c.url, p)) {
            const QStringList kept{p.mHost, p.mConnectHost, QString::number(p.mPort), p.mPath,
                                   p.mFile};
            QCOMPARE("unusable:" + kept.join(u','), c.want);
            return;
        }
        // Direct, the proxy account and password are set all the same.
        const bool via = !c.proxy.isEmpty();
        const QString account = via ? c.proxy : "u:p";
        RequestInput in{via, p.mPath, c.url, p.mHost, {}, {}, c.length, c.count};
        in.mProxyId = account.section(u':', 0, 0), in.mProxyPass = account.section(u':', 1);
        QStringList want = c.want.split(u'|');
        QVERIFY2(want.size() > 2, "an unusable URL is taken");
        const char *fixed = "|Accept: */*|Accept-Language: zh-cn|Accept-Encoding: identity";
        want[1] = "GET " + want[1] + " HTTP/1.1" + fixed + "|User-Agent: Zipvane1.0";
        want[2] = "Host: " + want[2];
        const QStringList parts{p.mConnectHost, QString::number(p.mPort), p.mFile};
        QCOMPARE(parts.join(u',') + "\r\n" + BuildRequest(in),
                 QString(want.join(u'|') + "|Connection: close||").replace(u'|', "\r\n"));
    }
};

QTEST_APPLESS_MAIN(TestAnalyzeUrl)
#include "tst_analyzeurl.moc"
