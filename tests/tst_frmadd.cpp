// The add-task dialog: its controls, enabling rules, prefill, clipboard,
// duplicate check and the proxy port it stores.
#include "window/frmdown.h"
#include "support/fakeseams.h"
#include "window/frmadd.h"
#include "tasks/portparse.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class TestFrmAdd : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::shared_ptr<FakeSeamsState> fake_;
    std::unique_ptr<frmDown> main_;
    frmDown &main() { return *main_; }

    static QString caption(QWidget *w)
    {
        if (auto *g = qobject_cast<QGroupBox *>(w))
            return g->title();
        if (auto *l = qobject_cast<QLabel *>(w))
            return l->text();
        if (auto *b = qobject_cast<QAbstractButton *>(w))
            return b->text();
        return static_cast<QLineEdit *>(w)->text();
    }

private Q_SLOTS:
    void init()
    {
        fake_ = std::make_shared<FakeSeamsState>();
        main_ = std::make_unique<frmDown>(fakeSeams(fake_), dir_.path());
    }
    void cleanup() { main_.reset(); }

    void layout()
    {
        frmAdd d(main());
        QCOMPARE(d.windowTitle(), QStringLiteral("加入新的下载任务"));
        QCOMPARE(d.size(), QSize(431, 313));
        const QList<std::tuple<QWidget *, QRect, QString, bool>> controls{
            {d.Frame2, {4, 6, 421, 93}, "加入下载的URL", true}, {d.Label5, {20, 28, 37, 13}, "URL：", true},
            {d.txtUrl, {64, 24, 329, 19}, "", true}, {d.cmdAdd[0], {260, 60, 53, 21}, "加入", true},
            {d.cmdAdd[1], {328, 60, 53, 21}, "取消", true}, {d.Frame1, {4, 100, 421, 201}, "选项", true},
            {d.chkProxy, {12, 28, 109, 17}, "使用代理服务器", true},
            {d.Label1, {8, 64, 109, 13}, "代理服务器地址：", true}, {d.txtProxy, {120, 60, 261, 19}, "", false},
            {d.Label2, {8, 92, 109, 13}, "代理服务器端口：", true}, {d.txtPort, {120, 88, 53, 19}, "6666", false},
            {d.chkAuth, {12, 120, 145, 21}, "代理服务器身份验证", false},
            {d.Label3, {8, 148, 109, 13}, "帐号：", true}, {d.txtID, {120, 144, 89, 19}, "", false},
            {d.Label4, {8, 176, 109, 13}, "密码：", true}, {d.txtPass, {120, 172, 89, 19}, "", false}};
        for (const auto &[w, rect, text, enabled] : controls) {
            QCOMPARE(w->geometry(), rect);
            QCOMPARE(caption(w), text);
            QCOMPARE(w->isEnabled(), enabled);
        }
        QCOMPARE(d.txtPass->echoMode(), QLineEdit::Normal);
        QVERIFY(!d.cmdAdd[0]->autoDefault() && !d.cmdAdd[1]->autoDefault());

        // With every box enabled, Tab walks the form in its laid-out order.
        d.chkProxy->setChecked(true);
        d.chkAuth->setChecked(true);
        QList<QWidget *> walk{d.chkProxy};
        while (walk.size() < 9) {
            QWidget *w = walk.last()->nextInFocusChain();
            while (w->focusPolicy() == Qt::NoFocus)
                w = w->nextInFocusChain();
            walk << w;
        }
        QCOMPARE(walk, (QList<QWidget *>{d.chkProxy, d.txtProxy, d.txtPort, d.chkAuth, d.txtPass,
                                         d.txtID, d.cmdAdd[0], d.txtUrl, d.cmdAdd[1]}));
    }

    // Each click, then which of txtProxy, txtPort, chkAuth, txtID, txtPass are enabled.
    void enablingRules()
    {
        frmAdd d(main());
        d.txtID->setText(QStringLiteral("kept"));
        const QList<std::pair<QCheckBox *, QList<bool>>> steps{
            {d.chkProxy, {1, 1, 1, 0, 0}}, {d.chkAuth, {1, 1, 1, 1, 1}},
            {d.chkProxy, {0, 0, 0, 0, 0}},   // unticking the proxy unticks authentication
            {d.chkProxy, {1, 1, 1, 0, 0}}};
        for (const auto &[box, expected] : steps) {
            QTest::mouseClick(box, Qt::LeftButton);
            QCOMPARE((QList<bool>{d.txtProxy->isEnabled(), d.txtPort->isEnabled(), d.chkAuth->isEnabled(),
                                  d.txtID->isEnabled(), d.txtPass->isEnabled()}), expected);
        }
        QCOMPARE(d.txtID->text(), QStringLiteral("kept"));   // typed text stays
    }

    void prefill_data()
    {
        QTest::addColumn<int>("selRow");
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("proxy");
        QTest::addColumn<bool>("auth");
        const QString a179 = "http://x/" + QString(170, u'a'), a180 = a179 + 'a';
        QTest::newRow("nothing selected") << -1 << QString() << QString() << false << false;
        QTest::newRow("past the spare record") << 9 << QString() << QString() << false << false;
        QTest::newRow("plain task") << 1 << QString() << "http://h/a" << false << false;
        QTest::newRow("proxy, no user") << 2 << QString() << "http://h/b" << true << false;
        QTest::newRow("proxy and user") << 3 << QString() << "http://h/c" << true << true;
        QTest::newRow("clipboard link wins") << 1 << "http://x/f.zip" << "http://x/f.zip" << false << false;
        QTest::newRow("179 characters") << 1 << a179 << a179 << false << false;
        QTest::newRow("180 characters") << 1 << a180 << "http://h/a" << false << false;
        QTest::newRow("capitals") << 1 << "HTTP://x/f" << "http://h/a" << false << false;
        QTest::newRow("leading blank") << 1 << " http://x/f" << "http://h/a" << false << false;
    }
    void prefill()
    {
        QFETCH(int, selRow);
        QFETCH(QString, clipboard);
        QFETCH(QString, url);
        QFETCH(bool, proxy);
        QFETCH(bool, auth);
        for (const char *u : {"http://h/a", "http://h/b", "http://h/c"})
            main().AddNewUrl(QString::fromLatin1(u));
        for (int row : {2, 3}) {
            main().DownTask(row).UseProxy = -1;
            main().DownTask(row).ProxyHost = QStringLiteral("p%1").arg(row);
            main().DownTask(row).ProxyPort = qint16(3126 + row);
        }
        main().DownTask(3).ProxyUser = QStringLiteral("用户");
        main().DownTask(3).ProxyPass = QStringLiteral("pw");
        main().SelRow = qint16(selRow);
        fake_->clipboard = clipboard;
        frmAdd d(main());
        d.Form_Activate();
        QCOMPARE(d.txtUrl->text(), url);
        QCOMPARE(d.chkProxy->isChecked(), proxy);
        QCOMPARE(d.chkAuth->isChecked(), auth);
        QCOMPARE(d.txtID->isEnabled(), auth);
        QCOMPARE(d.txtProxy->text(), proxy ? QStringLiteral("p%1").arg(selRow) : QString());
        QCOMPARE(d.txtPort->text(), proxy ? QString::number(3126 + selRow) : QStringLiteral("6666"));
        QCOMPARE(d.txtID->text() + d.txtPass->text(), auth ? QStringLiteral("用户pw") : QString());
    }

    void addAndDuplicates()
    {
        main().AddNewUrl(QStringLiteral("http://h/a"));
        main().SelRow = 1;
        fake_->clipboard = QStringLiteral("http://h/a");
        frmAdd d(main());
        d.show();
        d.Form_Activate();
        // Refused: the box is emptied, the dialog stays, and activating it
        // again after the message box does not refill it.
        d.cmdAdd_Click(0);
        QCOMPARE(fake_->messages, QStringList{QStringLiteral("该URL已经在下载队列中了！")});
        QVERIFY(d.isVisible() && d.txtUrl->text().isEmpty());
        QCOMPARE(main().SelRow, qint16(1));
        d.Form_Activate();
        QCOMPARE(d.txtUrl->text(), QString());

        d.txtUrl->setText(QStringLiteral("http://h/A"));   // letter case makes another URL
        d.chkProxy->setChecked(true);
        d.txtProxy->setText(QStringLiteral("proxy.local"));
        d.txtPort->setText(QStringLiteral(" 81.5 "));
        d.chkAuth->setChecked(true);
        d.txtID->setText(QStringLiteral("u"));
        d.txtPass->setText(QStringLiteral("p"));
        d.cmdAdd_Click(0);
        QVERIFY(!d.isVisible());
        QCOMPARE(main().SelRow, qint16(0));
        QCOMPARE(main().rowUrl(2), QStringLiteral("http://h/A"));
        QCOMPARE(main().rowState(2), QStringLiteral("stop"));
        QCOMPARE(main().DownTask.upperBound(), 3);
        const TaskRecord &r = main().DownTask(2);
        QCOMPARE(std::make_tuple(r.UseProxy, r.ProxyHost, r.ProxyPort, r.ProxyUser, r.ProxyPass),
                 std::make_tuple(qint16(-1), QStringLiteral("proxy.local"), qint16(82), QStringLiteral("u"),
                                 QStringLiteral("p")));
    }

    void closingWithoutAdding()
    {
        auto run = [this](const QString &url, bool proxyTickedThenUnticked, int button) {
            main().SelRow = 5;
            frmAdd d(main());
            d.txtUrl->setText(url);
            d.chkProxy->setChecked(proxyTickedThenUnticked);
            d.txtProxy->setText(QStringLiteral("p"));
            d.txtPort->setText(QStringLiteral("99999"));   // unused without the proxy
            d.chkProxy->setChecked(false);
            d.cmdAdd_Click(button);
            QCOMPARE(main().SelRow, qint16(0));
        };
        run(QString(), false, 0);                       // nothing typed: nothing added
        run(QStringLiteral("http://h/y"), false, 1);    // 取消
        QCOMPARE(main().rowCount(), 0);
        QCOMPARE(main().DownTask.upperBound(), 1);
        run(QStringLiteral("http://h/x"), true, 0);     // proxy unticked: none stored
        const TaskRecord &r = main().DownTask(1);
        QCOMPARE(std::make_tuple(r.Url, r.UseProxy, r.ProxyHost, r.ProxyPort),
                 std::make_tuple(QStringLiteral("http://h/x"), qint16(0), QString(), qint16(0)));
        QVERIFY(fake_->messages.isEmpty());
    }

    void portText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("port");   // -1: refused
        const QList<std::pair<const char *, int>> rows{
            {"8080", 8080},  {"8080abc", 8080}, {"80.5", 80},    {"81.5", 82},     {" 80 80\t", 8080},
            {"31\n28", 3128}, {"abc", 0},       {"", 0},         {"-5", -5},       {"1e3", 1000},
            {"32767", 32767}, {"32768", -1},    {"-32769", -1},  {"1e400", -1}};
        for (const auto &[text, port] : rows)
            QTest::newRow(text) << QString::fromLatin1(text) << port;
    }
    void portText()
    {
        QFETCH(QString, text);
        QFETCH(int, port);
        frmAdd d(main());
        d.show();
        d.txtUrl->setText(QStringLiteral("http://h/p"));
        d.chkProxy->setChecked(true);
        d.txtPort->setText(text);
        d.cmdAdd_Click(0);
        if (port == -1) {
            QVERIFY(!parseProxyPort(text));
            QCOMPARE(fake_->messages, QStringList{QStringLiteral("代理服务器端口无效！")});
            QVERIFY(d.isVisible());
            QCOMPARE(main().rowCount(), 0);
        } else {
            QCOMPARE(main().DownTask(1).ProxyPort, qint16(port));
        }
    }
};

QTEST_MAIN(TestFrmAdd)
#include "tst_frmadd.moc"
