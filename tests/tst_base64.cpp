// The proxy credentials' Base64 text, checked against known vectors and
// against Qt's own encoder over the same GBK bytes.
#include "tasks/gbktext.h"
#include "engine/moddown.h"

#include <QtTest>

class TestBase64 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void encodes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");   // empty: what Qt makes of the GBK bytes
        // 用户:密码 is D3 C3 BB A7 3A C3 DC C2 EB: the GBK bytes, not the UTF-16 units.
        for (auto [t, e] : {std::pair{"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"u:", "dTo="}, {">?", "Pj8="}, {"用户:密码", "08O7pzrD3MLr"}})
            QTest::newRow(t) << QString::fromUtf8(t) << QString::fromLatin1(e);
        // ASCII, Latin and CJK mixed at every length around a group boundary, and
        // one long text, which must get no line breaks.
        const QString pool = QString::fromUtf8("aZ09+/:=~ !\"@#中文下载器代理密码用户éü");
        for (int n : {0, 1, 2, 3, 4, 5, 6, 7, 400})
            QTest::addRow("mixed %d", n) << pool.repeated(n).left(n * 5) << QString();
    }
    void encodes()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(ModDown::Base64Encode(text), expected.isEmpty() ? QString::fromLatin1(GbkText::encode(text).toBase64()) : expected);
    }
};

QTEST_APPLESS_MAIN(TestBase64)
#include "tst_base64.moc"
