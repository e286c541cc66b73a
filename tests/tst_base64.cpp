// The proxy credentials' Base64 text, checked against known vectors and
// against Qt's own encoder over the same GBK bytes.
#include "app/gbktext.h"
#include "engine/moddown.h"

#include <QRandomGenerator>
#include <QtTest>

class TestBase64 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void encodes_data();
    void encodes();
    void matchesQtOnRandomText_data();
    void matchesQtOnRandomText();
};

void TestBase64::encodes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("1 byte") << "f" << "Zg==";
    QTest::newRow("2 bytes") << "fo" << "Zm8=";
    QTest::newRow("3 bytes") << "foo" << "Zm9v";
    QTest::newRow("4 bytes") << "foob" << "Zm9vYg==";
    QTest::newRow("5 bytes") << "fooba" << "Zm9vYmE=";
    QTest::newRow("6 bytes") << "foobar" << "Zm9vYmFy";
    QTest::newRow("user, empty password") << "u:" << "dTo=";
    QTest::newRow("user and password") << "Aladdin:open sesame"
                                       << "QWxhZGRpbjpvcGVuIHNlc2FtZQ==";
    // D3 C3 BB A7 3A C3 DC C2 EB: the GBK bytes, not the UTF-16 units.
    QTest::newRow("chinese in GBK") << QString::fromUtf8("用户:密码") << "08O7pzrD3MLr";
    QTest::newRow("62 and 63") << QString::fromLatin1("\x3e\x3f") << "Pj8=";
}

void TestBase64::encodes()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(ModDown::Base64Encode(text), expected);

    QString output = QStringLiteral("Basic ");
    ModDown::Base64Append(text, output);
    QCOMPARE(output, QStringLiteral("Basic ") + expected);
}

void TestBase64::matchesQtOnRandomText_data()
{
    QTest::addColumn<QString>("text");

    // Every length around a group boundary, with ASCII, Latin and CJK mixed,
    // so that the bytes cover the whole 0..255 range.
    QRandomGenerator rng(20070101);
    const QString pool = QString::fromUtf8("aZ09+/:=~ !\"@#中文下载器代理密码用户迅羽éü");
    for (int length = 0; length <= 40; ++length) {
        QString text;
        for (int k = 0; k < length; ++k)
            text += pool.at(rng.bounded(int(pool.size())));
        QTest::addRow("length %d", length) << text;
    }
    QString longText;
    for (int k = 0; k < 2000; ++k)
        longText += pool.at(rng.bounded(int(pool.size())));
    QTest::newRow("long, no line breaks") << longText;
}

void TestBase64::matchesQtOnRandomText()
{
    QFETCH(QString, text);
    const QString encoded = ModDown::Base64Encode(text);
    QCOMPARE(encoded, QString::fromLatin1(GbkText::encode(text).toBase64()));
    QVERIFY(!encoded.contains(QLatin1Char('\n')));
    QVERIFY(!encoded.contains(QLatin1Char('\r')));
}

QTEST_APPLESS_MAIN(TestBase64)
#include "tst_base64.moc"
