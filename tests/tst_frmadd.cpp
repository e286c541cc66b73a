// The add-task dialog: enabling rules and keyboard, prefill from the selected
// task and the clipboard, the duplicate check, and the proxy it stores.
#include "support/fakeseams.h"
#include "window/frmadd.h"
#include "window/frmdown.h"

#include <QtTest>
#include <QtWidgets>

// The dialog's boxes as "url|[x]|host|port|[ ]|user|pass"; '-' marks a disabled box.
static QString form(const frmAdd &d)
{
    QString shown = d.txtUrl->text();
    for (const char *name : {"chkProxy", "txtProxy", "txtPort", "chkAuth", "txtID", "txtPass"}) {
        const QWidget *box = d.findChild<QWidget *>(name);
        const QVariant ticked = box->property("checked");  // none on a text box
        shown += QString(box->isEnabled() ? "|" : "|-")
                 + (ticked.isValid() ? ticked.toBool() ? "[x]" : "[ ]"
                                     : box->property("text").toString());
    }
    return shown;
}

// A record's address and proxy as "url|UseProxy|host|port|user|pass".
static QString proxyOf(const TaskRecord &r)
{
    return QStringList{r.Url,       QString::number(r.UseProxy),
                       r.ProxyHost, QString::number(r.ProxyPort),
                       r.ProxyUser, r.ProxyPass}
        .join('|');
}

struct Prefill {
    int selRow;  // rows 2 and 3 have a proxy, row 3 a user as well
    QString clipboard;
    QString form;  // once the dialog is active
};
Q_DECLARE_METATYPE(Prefill)

class TestFrmAdd : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::shared_ptr<FakeSeamsState> fake_;
    std::optional<frmDown> main_;

private Q_SLOTS:
    void init()
    {
        fake_ = std::make_shared<FakeSeamsState>(), main_.emplace(fakeSeams(fake_), dir_.path());
    }
    void cleanup() { main_.reset(); }

    // The boxes after each click (typed text stays in a disabled box); then
    // Tab walks the form in its laid-out order, Enter presses no button, and
    // the password shows as typed.
    void controls()
    {
        frmAdd d(*main_);
        d.show();
        d.txtID->setText("kept");
        const QString off = "|[ ]|-|-6666|-[ ]|-kept|-", on = "|[x]||6666|[ ]|-kept|-",
                      all = "|[x]||6666|[x]|kept|";
        const QList<std::pair<QCheckBox *, QString>> steps{{nullptr, off},   {d.chkProxy, on},
                                                           {d.chkAuth, all}, {d.chkProxy, off},
                                                           {d.chkProxy, on}, {d.chkAuth, all}};
        for (const auto &[click, shown] : steps) {
            if (click)
                QTest::mouseClick(click, Qt::LeftButton);
            QCOMPARE(form(d), shown);
        }
        QStringList walk{"chkProxy"};
        for (QWidget *w = d.chkProxy->nextInFocusChain(); w != d.chkProxy;
             w = w->nextInFocusChain())
            if (w->focusPolicy() & Qt::TabFocus)
                walk << w->objectName();
        QCOMPARE(walk.join(' '),
                 "chkProxy txtProxy txtPort chkAuth txtPass txtID cmdAdd0 txtUrl cmdAdd1");
        d.txtUrl->setText("http://h/enter");
        QTest::keyClick(d.txtUrl, Qt::Key_Return);
        QVERIFY(d.isVisible() && main_->rowCount() == 0
                && d.txtPass->echoMode() == QLineEdit::Normal);
    }

    void prefill_data()
    {
        QTest::addColumn<Prefill>("p");
        const QString a179 = "http://x/" + QString(170, u'a'), a180 = a179 + 'a',
                      none = "|[ ]|-|-6666|-[ ]|-|-";
        QTest::newRow("nothing selected") << Prefill{-1, {}, none};
        QTest::newRow("past the spare record") << Prefill{9, {}, none};
        QTest::newRow("plain task") << Prefill{1, {}, "http://h/a" + none};
        QTest::newRow("proxy, no user") << Prefill{2, {}, "http://h/b|[x]|p2|3128|[ ]|-|-"};
        QTest::newRow("proxy and user") << Prefill{3, {}, "http://h/c|[x]|p3|3129|[x]|用户|pw"};
        QTest::newRow("clipboard link wins")
            << Prefill{3, "http://x/f", "http://x/f|[x]|p3|3129|[x]|用户|pw"};
        QTest::newRow("179 characters") << Prefill{1, a179, a179 + none};
        QTest::newRow("180 characters") << Prefill{1, a180, "http://h/a" + none};
        QTest::newRow("capitals") << Prefill{1, "HTTP://x/f", "http://h/a" + none};
        QTest::newRow("leading blank") << Prefill{-1, " http://x/f", none};
    }
    void prefill()
    {
        QFETCH(Prefill, p);
        for (const char *url : {"http://h/a", "http://h/b", "http://h/c"})
            main_->AddNewUrl(url);
        TaskRecord &a = main_->DownTask(1), &b = main_->DownTask(2), &c = main_->DownTask(3);
        a.ProxyHost = "not used";  // the proxy option was off
        b.UseProxy = c.UseProxy = -1, b.ProxyHost = "p2", b.ProxyPort = 3128, c.ProxyHost = "p3";
        c.ProxyPort = 3129, c.ProxyUser = "用户", c.ProxyPass = "pw";
        main_->SelRow = qint16(p.selRow), fake_->clipboard = p.clipboard;
        frmAdd d(*main_);
        d.Form_Activate();
        QCOMPARE(form(d), p.form);
    }

    // A URL already listed is refused: the box is emptied, the dialog stays,
    // and activating it again after the message box does not refill it.
    void addAndDuplicates()
    {
        main_->AddNewUrl("http://h/a");
        main_->SelRow = 1, fake_->clipboard = "http://h/a";
        frmAdd d(*main_);
        d.show();
        d.Form_Activate(), d.cmdAdd_Click(0), d.Form_Activate();
        QCOMPARE(fake_->messages, QStringList{"该URL已经在下载队列中了！"});
        QVERIFY(d.isVisible() && d.txtUrl->text().isEmpty() && main_->SelRow == 1);

        d.txtUrl->setText("http://h/A");  // letter case makes another URL
        d.chkProxy->setChecked(true), d.txtProxy->setText("proxy.local");
        d.txtPort->setText(" 81.5 "), d.chkAuth->setChecked(true);
        d.txtID->setText("u"), d.txtPass->setText("p");
        d.cmdAdd_Click(0);
        QVERIFY(!d.isVisible() && main_->SelRow == 0 && main_->DownTask.upperBound() == 3);
        QCOMPARE(main_->rowUrl(2) + " " + main_->rowState(2), "http://h/A stop");
        QCOMPARE(proxyOf(main_->DownTask(2)), "http://h/A|-1|proxy.local|82|u|p");
    }

    // 加入 with nothing typed, and 取消, add nothing; a proxy ticked and then
    // unticked stores none, whatever its boxes hold. Each clears SelRow.
    void closingWithoutAdding()
    {
        struct Close {
            QString url;
            bool proxyTicked;
            int button;
        };
        for (const Close &c :
             {Close{"", false, 0}, Close{"http://h/y", false, 1}, Close{"http://h/x", true, 0}}) {
            main_->SelRow = 5;
            frmAdd d(*main_);
            d.txtUrl->setText(c.url), d.chkProxy->setChecked(c.proxyTicked);
            d.txtProxy->setText("p"), d.txtPort->setText("99999"), d.chkProxy->setChecked(false);
            d.cmdAdd_Click(c.button);
            QCOMPARE(main_->SelRow, qint16(0));
        }
        QVERIFY(main_->rowCount() == 1 && main_->DownTask.upperBound() == 2
                && fake_->messages.isEmpty());
        QCOMPARE(proxyOf(main_->DownTask(1)), "http://h/x|0||0||");
    }

    // What the port box gives under a ticked proxy (no authentication, so
    // the user typed is not kept); -1: refused.
    void portText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("port");
        const QList<std::pair<const char *, int>> rows{
            {"8080", 8080},   {"8080abc", 8080}, {"80.5", 80},   {"81.5", 82}, {" 80 80\t", 8080},
            {"31\n28", 3128}, {"abc", 0},        {"", 0},        {"-5", -5},   {"1e3", 1000},
            {"32767", 32767}, {"32768", -1},     {"-32769", -1}, {"1e400", -1}};
        for (const auto &[text, port] : rows)
            QTest::newRow(text) << QString::fromLatin1(text) << port;
    }
    void portText()
    {
        QFETCH(QString, text);
        QFETCH(int, port);
        frmAdd d(*main_);
        d.show();
        d.txtUrl->setText("http://h/p"), d.chkProxy->setChecked(true), d.txtPort->setText(text);
        d.txtID->setText("u");
        d.cmdAdd_Click(0);
        const bool refused = port == -1;
        QCOMPARE(fake_->messages.join(""), refused ? "代理服务器端口无效！" : "");
        QVERIFY(d.isVisible() == refused && main_->rowCount() == int(!refused));
        QCOMPARE(proxyOf(main_->DownTask(1)),
                 refused ? "|0||0||" : "http://h/p|-1||" + QString::number(port) + "||");
    }
};

QTEST_MAIN(TestFrmAdd)
#include "tst_frmadd.moc"
