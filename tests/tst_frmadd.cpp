// links: window
// The add-task dialog: its controls, enabling rules, prefill, clipboard,
// duplicate check and the proxy port it stores.
#include "app/frmdown.h"
#include "support/fakeseams.h"
#include "ui/frmadd.h"
#include "ui/portparse.h"

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

private Q_SLOTS:
    void init()
    {
        fake_ = std::make_shared<FakeSeamsState>();
        main_ = std::make_unique<frmDown>(fakeSeams(fake_), dir_.path());
    }
    void cleanup()
    {
        main_.reset();
        QFile::remove(dir_.filePath(QStringLiteral("Zipvane.zvt")));
    }

    void layoutAndCaptions()
    {
        frmAdd dialog(main());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("加入新的下载任务"));
        QCOMPARE(dialog.size(), QSize(431, 313));
        struct Expect {
            QWidget *w;
            QRect rect;
            QString text;
            bool enabled;
        };
        const QList<Expect> expected{
            {dialog.Frame2, {4, 6, 421, 93}, QStringLiteral("加入下载的URL"), true},
            {dialog.Label5, {20, 28, 37, 13}, QStringLiteral("URL："), true},
            {dialog.txtUrl, {64, 24, 329, 19}, QString(), true},
            {dialog.cmdAdd[0], {260, 60, 53, 21}, QStringLiteral("加入"), true},
            {dialog.cmdAdd[1], {328, 60, 53, 21}, QStringLiteral("取消"), true},
            {dialog.Frame1, {4, 100, 421, 201}, QStringLiteral("选项"), true},
            {dialog.chkProxy, {12, 28, 109, 17}, QStringLiteral("使用代理服务器"), true},
            {dialog.Label1, {8, 64, 109, 13}, QStringLiteral("代理服务器地址："), true},
            {dialog.txtProxy, {120, 60, 261, 19}, QString(), false},
            {dialog.Label2, {8, 92, 109, 13}, QStringLiteral("代理服务器端口："), true},
            {dialog.txtPort, {120, 88, 53, 19}, QStringLiteral("6666"), false},
            {dialog.chkAuth, {12, 120, 145, 21}, QStringLiteral("代理服务器身份验证"), false},
            {dialog.Label3, {8, 148, 109, 13}, QStringLiteral("帐号："), true},
            {dialog.txtID, {120, 144, 89, 19}, QString(), false},
            {dialog.Label4, {8, 176, 109, 13}, QStringLiteral("密码："), true},
            {dialog.txtPass, {120, 172, 89, 19}, QString(), false},
        };
        for (const Expect &e : expected) {
            QCOMPARE(e.w->geometry(), e.rect);
            QCOMPARE(e.w->isEnabled(), e.enabled);
            QString text;
            if (auto *g = qobject_cast<QGroupBox *>(e.w))
                text = g->title();
            else if (auto *l = qobject_cast<QLabel *>(e.w))
                text = l->text();
            else if (auto *b = qobject_cast<QAbstractButton *>(e.w))
                text = b->text();
            else if (auto *t = qobject_cast<QLineEdit *>(e.w))
                text = t->text();
            QCOMPARE(text, e.text);
        }
        QCOMPARE(dialog.txtPass->echoMode(), QLineEdit::Normal);
        QVERIFY(!dialog.cmdAdd[0]->isDefault() && !dialog.cmdAdd[0]->autoDefault());

        // With every box enabled, Tab walks the form in its laid-out order.
        dialog.chkProxy->setChecked(true);
        dialog.chkAuth->setChecked(true);
        QList<QWidget *> walk;
        QWidget *w = dialog.chkProxy;
        for (int i = 0; i < 9; ++i) {
            walk << w;
            w = w->nextInFocusChain();
            while (w->focusPolicy() == Qt::NoFocus)
                w = w->nextInFocusChain();
        }
        const QList<QWidget *> order{dialog.chkProxy, dialog.txtProxy, dialog.txtPort,
                                     dialog.chkAuth,  dialog.txtPass,  dialog.txtID,
                                     dialog.cmdAdd[0], dialog.txtUrl,  dialog.cmdAdd[1]};
        QCOMPARE(walk, order);
    }

    void enablingRules()
    {
        frmAdd dialog(main());
        auto enabled = [&] {
            return QList<bool>{dialog.txtProxy->isEnabled(), dialog.txtPort->isEnabled(),
                               dialog.chkAuth->isEnabled(), dialog.txtID->isEnabled(),
                               dialog.txtPass->isEnabled()};
        };
        QTest::mouseClick(dialog.chkProxy, Qt::LeftButton);
        QCOMPARE(enabled(), (QList<bool>{true, true, true, false, false}));
        QTest::mouseClick(dialog.chkAuth, Qt::LeftButton);
        QCOMPARE(enabled(), (QList<bool>{true, true, true, true, true}));
        dialog.txtID->setText(QStringLiteral("kept"));
        // Unticking the proxy unticks authentication and disables every box,
        // keeping what was typed.
        QTest::mouseClick(dialog.chkProxy, Qt::LeftButton);
        QCOMPARE(enabled(), (QList<bool>{false, false, false, false, false}));
        QVERIFY(!dialog.chkAuth->isChecked());
        QCOMPARE(dialog.txtID->text(), QStringLiteral("kept"));
        // Ticking the proxy again leaves authentication unticked.
        QTest::mouseClick(dialog.chkProxy, Qt::LeftButton);
        QVERIFY(!dialog.chkAuth->isChecked());
        QCOMPARE(enabled(), (QList<bool>{true, true, true, false, false}));
    }

    void prefillFromSelectedRow_data()
    {
        QTest::addColumn<int>("selRow");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("proxy");
        QTest::addColumn<bool>("auth");
        QTest::newRow("no selection") << -1 << QString() << false << false;
        QTest::newRow("plain task") << 1 << QStringLiteral("http://h/a") << false << false;
        QTest::newRow("proxy, no user") << 2 << QStringLiteral("http://h/b") << true << false;
        QTest::newRow("proxy and user") << 3 << QStringLiteral("http://h/c") << true << true;
    }
    void prefillFromSelectedRow()
    {
        QFETCH(int, selRow);
        QFETCH(QString, url);
        QFETCH(bool, proxy);
        QFETCH(bool, auth);
        for (const char *u : {"http://h/a", "http://h/b", "http://h/c"})
            main().AddNewUrl(QString::fromLatin1(u));
        main().DownTask(2).UseProxy = -1;
        main().DownTask(2).ProxyHost = QStringLiteral("p2");
        main().DownTask(2).ProxyPort = 3128;
        main().DownTask(3).UseProxy = -1;
        main().DownTask(3).ProxyHost = QStringLiteral("p3");
        main().DownTask(3).ProxyPort = 8080;
        main().DownTask(3).ProxyUser = QStringLiteral("用户");
        main().DownTask(3).ProxyPass = QStringLiteral("pw");
        main().SelRow = qint16(selRow);

        frmAdd dialog(main());
        QCOMPARE(dialog.txtUrl->text(), url);
        QCOMPARE(dialog.chkProxy->isChecked(), proxy);
        QCOMPARE(dialog.chkAuth->isChecked(), auth);
        QCOMPARE(dialog.txtID->isEnabled(), auth);
        if (proxy)
            QCOMPARE(dialog.txtProxy->text(), QStringLiteral("p%1").arg(selRow));
        if (auth) {
            QCOMPARE(dialog.txtPort->text(), QStringLiteral("8080"));
            QCOMPARE(dialog.txtID->text(), QStringLiteral("用户"));
            QCOMPARE(dialog.txtPass->text(), QStringLiteral("pw"));
        }
    }

    void clipboardOnActivation_data()
    {
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<bool>("taken");
        QTest::newRow("http link") << QStringLiteral("http://x/f.zip") << true;
        QTest::newRow("capitals") << QStringLiteral("HTTP://x/f.zip") << false;
        QTest::newRow("leading blank") << QStringLiteral(" http://x/f.zip") << false;
        QTest::newRow("179 characters") << QStringLiteral("http://x/") + QString(170, u'a') << true;
        QTest::newRow("180 characters") << QStringLiteral("http://x/") + QString(171, u'a') << false;
        QTest::newRow("not a link") << QStringLiteral("hello") << false;
    }
    void clipboardOnActivation()
    {
        QFETCH(QString, clipboard);
        QFETCH(bool, taken);
        main().AddNewUrl(QStringLiteral("http://h/selected"));
        main().SelRow = 1;
        fake_->clipboard = clipboard;
        frmAdd dialog(main());
        dialog.Form_Activate();
        QCOMPARE(dialog.txtUrl->text(), taken ? clipboard : QStringLiteral("http://h/selected"));
    }

    void addAndDuplicates()
    {
        main().AddNewUrl(QStringLiteral("http://h/a"));
        main().SelRow = 1;
        fake_->clipboard = QStringLiteral("http://h/a");
        frmAdd dialog(main());
        dialog.show();
        dialog.Form_Activate();
        QCOMPARE(dialog.txtUrl->text(), QStringLiteral("http://h/a"));

        // The duplicate is refused, the box emptied and the dialog stays open;
        // activating again after the message box does not refill it.
        dialog.cmdAdd_Click(0);
        QCOMPARE(fake_->messages, QStringList{QStringLiteral("该URL已经在下载队列中了！")});
        QCOMPARE(dialog.txtUrl->text(), QString());
        QVERIFY(dialog.isVisible());
        QCOMPARE(main().SelRow, qint16(1));
        dialog.Form_Activate();
        QCOMPARE(dialog.txtUrl->text(), QString());

        // Letter case makes another URL; the proxy boxes give its record.
        dialog.txtUrl->setText(QStringLiteral("http://h/A"));
        dialog.chkProxy->setChecked(true);
        dialog.txtProxy->setText(QStringLiteral("proxy.local"));
        dialog.txtPort->setText(QStringLiteral(" 81.5 "));
        dialog.chkAuth->setChecked(true);
        dialog.txtID->setText(QStringLiteral("u"));
        dialog.txtPass->setText(QStringLiteral("p"));
        dialog.cmdAdd_Click(0);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(main().SelRow, qint16(0));
        QCOMPARE(main().rowCount(), 2);
        QCOMPARE(main().rowUrl(2), QStringLiteral("http://h/A"));
        QCOMPARE(main().rowState(2), QStringLiteral("stop"));
        QCOMPARE(main().DownTask.upperBound(), 3);
        const TaskRecord &r = main().DownTask(2);
        QCOMPARE(r.UseProxy, qint16(-1));
        QCOMPARE(r.ProxyHost, QStringLiteral("proxy.local"));
        QCOMPARE(r.ProxyPort, qint16(82));
        QCOMPARE(r.ProxyUser, QStringLiteral("u"));
        QCOMPARE(r.ProxyPass, QStringLiteral("p"));
        QCOMPARE(r.FilePath, QString());
    }

    void uncheckedProxyStoresNothing()
    {
        frmAdd dialog(main());
        dialog.txtUrl->setText(QStringLiteral("http://h/x"));
        dialog.chkProxy->setChecked(true);
        dialog.txtProxy->setText(QStringLiteral("p"));
        dialog.txtPort->setText(QStringLiteral("99999"));   // not used: no proxy
        dialog.chkProxy->setChecked(false);
        dialog.cmdAdd_Click(0);
        const TaskRecord &r = main().DownTask(1);
        QCOMPARE(r.Url, QStringLiteral("http://h/x"));
        QCOMPARE(r.UseProxy, qint16(0));
        QCOMPARE(r.ProxyHost, QString());
        QCOMPARE(r.ProxyPort, qint16(0));
        QVERIFY(fake_->messages.isEmpty());
    }

    void emptyUrlAndCancel()
    {
        main().SelRow = 5;
        {
            frmAdd dialog(main());
            dialog.cmdAdd_Click(0);   // nothing typed: nothing added, dialog closes
        }
        QCOMPARE(main().rowCount(), 0);
        QCOMPARE(main().DownTask.upperBound(), 1);
        QCOMPARE(main().SelRow, qint16(0));
        main().SelRow = 5;
        frmAdd dialog(main());
        dialog.txtUrl->setText(QStringLiteral("http://h/y"));
        dialog.cmdAdd_Click(1);
        QCOMPARE(main().rowCount(), 0);
        QCOMPARE(main().SelRow, qint16(0));
    }

    void portText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("port");   // -1: refused
        QTest::newRow("plain") << QStringLiteral("8080") << 8080;
        QTest::newRow("trailing letters") << QStringLiteral("8080abc") << 8080;
        QTest::newRow("half to even down") << QStringLiteral("80.5") << 80;
        QTest::newRow("half to even up") << QStringLiteral("81.5") << 82;
        QTest::newRow("blanks inside") << QStringLiteral(" 80 80\t") << 8080;
        QTest::newRow("line feed inside") << QStringLiteral("31\n28") << 3128;
        QTest::newRow("no number") << QStringLiteral("abc") << 0;
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("negative") << QStringLiteral("-5") << -5;
        QTest::newRow("exponent") << QStringLiteral("1e3") << 1000;
        QTest::newRow("largest") << QStringLiteral("32767") << 32767;
        QTest::newRow("too large") << QStringLiteral("32768") << -1;
        QTest::newRow("too small") << QStringLiteral("-32769") << -1;
        QTest::newRow("huge") << QStringLiteral("1e400") << -1;
    }
    void portText()
    {
        QFETCH(QString, text);
        QFETCH(int, port);
        const std::optional<qint16> parsed = parseProxyPort(text);
        QCOMPARE(parsed.has_value(), port != -1);
        if (port != -1)
            QCOMPARE(int(*parsed), port);

        // Through the dialog: a port out of range keeps the dialog open.
        frmAdd dialog(main());
        dialog.show();
        dialog.txtUrl->setText(QStringLiteral("http://h/p"));
        dialog.chkProxy->setChecked(true);
        dialog.txtPort->setText(text);
        dialog.cmdAdd_Click(0);
        if (port == -1) {
            QCOMPARE(fake_->messages, QStringList{QStringLiteral("代理服务器端口无效！")});
            QVERIFY(dialog.isVisible());
            QCOMPARE(main().rowCount(), 0);
        } else {
            QCOMPARE(main().DownTask(1).ProxyPort, qint16(port));
        }
    }

    void menuOpensTheDialogModally()
    {
        fake_->driveDialog = [](QDialog &d) {
            auto &dialog = static_cast<frmAdd &>(d);
            dialog.txtUrl->setText(QStringLiteral("http://h/menu"));
            dialog.cmdAdd_Click(0);
        };
        main().menuadd->trigger();
        QCOMPARE(main().rowCount(), 1);
        QCOMPARE(main().rowUrl(1), QStringLiteral("http://h/menu"));
    }
};

QTEST_MAIN(TestFrmAdd)
#include "tst_frmadd.moc"
