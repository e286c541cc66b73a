// The add-task dialog: its prefill from the selected task and the clipboard,
// its enabling rules, and what 加入 adds: the duplicate check, the proxy, its
// port and its user.
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
        shown += QString(box->isEnabled() ? "|" : "|-")
                 + (box->inherits("QCheckBox") ? box->property("checked").toBool() ? "[x]" : "[ ]"
                                               : box->property("text").toString());
    }
    return shown;
}

// The selected row (rows 2 and 3 have a proxy, row 3 a user as well), the
// clipboard, the check boxes clicked once the dialog is active ('P' proxy,
// 'A' authentication) and then the form.
struct Prefill {
    int selRow;
    QString clipboard, clicks, form;
};
Q_DECLARE_METATYPE(Prefill)

// The URL and port typed into the boxes filled from row 3 (proxy "p3", user
// "用户", password "pw"), the proxy box clicked once per 'P', then 加入
// pressed; the new row and record as "url|UseProxy|host|port|user|pass",
// empty when none is added, and the message shown (the dialog stays open
// after one).
struct Press {
    QString url, port, clicks, record, message;
};
Q_DECLARE_METATYPE(Press)

class TestFrmAdd : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::shared_ptr<FakeSeamsState> fake_;
    std::optional<frmDown> main_;

private Q_SLOTS:
    void init()
    {
        fake_ = std::make_shared<FakeSeamsState>(), main_.emplace(fakeSeams(fake_), dir_.path());
        for (const char *url : {"http://h/a", "http://h/b", "http://h/c"})
            main_->AddNewUrl(url);
        main_->DownTask(1).ProxyHost = "not used";  // the proxy option was off
        main_->DownTask(2) = {0, "http://h/b", {}, 0, 0, -1, "p2", 3128, {}, {}};
        main_->DownTask(3) = {0, "http://h/c", {}, 0, 0, -1, "p3", 3129, "用户", "pw"};
    }

    void prefill_data()
    {
        QTest::addColumn<Prefill>("p");
        const QString a179 = "http://x/" + QString(170, u'a'), none = "|[ ]|-|-6666|-[ ]|-|-";
        QTest::newRow("proxy, no user") << Prefill{2, {}, {}, "http://h/b|[x]|p2|3128|[ ]|-|-"};
        QTest::newRow("clipboard link wins")
            << Prefill{3, "http://x/f", {}, "http://x/f|[x]|p3|3129|[x]|用户|pw"};
        // Typed text stays in a disabled box.
        QTest::newRow("proxy unticked")
            << Prefill{3, {}, "P", "http://h/c|[ ]|-p3|-3129|-[ ]|-用户|-pw"};
        QTest::newRow("179 characters") << Prefill{1, a179, {}, a179 + none};
        QTest::newRow("180 characters") << Prefill{1, a179 + 'a', {}, "http://h/a" + none};
        QTest::newRow("capitals, past the rows") << Prefill{9, "HTTP://x/f", {}, none};
        QTest::newRow("leading blank, nothing selected") << Prefill{-1, " http://x/f", {}, none};
    }
    void prefill()
    {
        QFETCH(Prefill, p);
        main_->SelRow = qint16(p.selRow), fake_->clipboard = p.clipboard;
        frmAdd d(*main_);
        d.Form_Activate();
        for (const QChar c : p.clicks)
            (c == 'P' ? d.chkProxy : d.chkAuth)->click();
        QCOMPARE(form(d), p.form);
    }

    void press_data()
    {
        QTest::addColumn<Press>("p");
        const QString u = "http://h/x", dup = "该URL已经在下载队列中了！";
        QTest::newRow("letter case differs, proxy and user")
            << Press{"http://h/A", " 81.5 ", "", "http://h/A|-1|p3|82|用户|pw", ""};
        QTest::newRow("listed already") << Press{"http://h/a", "", "", "", dup};
        QTest::newRow("nothing typed") << Press{"", "", "P", "", ""};
        QTest::newRow("proxy unticked") << Press{u, "x", "P", u + "|0||0||", ""};
        // Unticking the proxy unticked the user; the port is its leading number,
        // halves to even.
        QTest::newRow("ticked again") << Press{u, "8\n0.5abc", "PP", u + "|-1|p3|80||", ""};
        // No number, 0 or a negative port would mean no proxy at all.
        for (const char *port : {"abc", "", "0", "-5", "32768"})
            QTest::newRow(port) << Press{u, port, "", "", "代理服务器端口无效！"};
    }
    void press()
    {
        QFETCH(Press, p);
        main_->SelRow = 3;
        frmAdd d(*main_);
        d.show();
        d.txtUrl->setText(p.url), d.txtPort->setText(p.port);
        for (const QChar c : p.clicks)
            (c == 'P' ? d.chkProxy : d.chkAuth)->click();
        d.cmdAdd[0]->click();
        QCOMPARE(fake_->messages.join(""), p.message);
        const bool open = !p.message.isEmpty();
        QVERIFY(d.isVisible() == open && main_->SelRow == (open ? 3 : 0));
        QCOMPARE(d.txtUrl->text(), p.message.startsWith("该URL") ? "" : p.url);
        const TaskRecord &r = main_->DownTask(4);
        QCOMPARE(QStringList({main_->rowUrl(4), QString::number(r.UseProxy), r.ProxyHost,
                              QString::number(r.ProxyPort), r.ProxyUser, r.ProxyPass})
                     .join('|'),
                 p.record.isEmpty() ? "|0||0||" : p.record);
    }
};

QTEST_MAIN(TestFrmAdd)
#include "tst_frmadd.moc"
