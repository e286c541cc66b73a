// The add-task dialog: its enabling rules, its prefill from the selected task
// and the clipboard, and what 加入 adds: the duplicate check, the proxy, its
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
        const QVariant ticked = box->property("checked");  // none on a text box
        shown += QString(box->isEnabled() ? "|" : "|-")
                 + (ticked.isValid() ? ticked.toBool() ? "[x]" : "[ ]"
                                     : box->property("text").toString());
    }
    return shown;
}

struct Prefill {
    int selRow;  // rows 2 and 3 have a proxy, row 3 a user as well
    QString clipboard;
    QString form;  // once the dialog is active
};
Q_DECLARE_METATYPE(Prefill)

// Typed into the boxes (host "h", user "u", password "p" as well), then the
// check boxes clicked in order ('P' proxy, 'A' authentication) and 加入
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
    }
    void cleanup() { main_.reset(); }

    // The boxes after each click; typed text stays in a disabled box.
    void enabling()
    {
        frmAdd d(*main_);
        d.txtID->setText("kept");
        QStringList seen{form(d)};
        for (QCheckBox *box : {d.chkProxy, d.chkAuth, d.chkProxy, d.chkProxy, d.chkAuth})
            box->click(), seen << form(d);
        const QString off = "|[ ]|-|-6666|-[ ]|-kept|-", on = "|[x]||6666|[ ]|-kept|-",
                      all = "|[x]||6666|[x]|kept|";
        QCOMPARE(seen, QStringList({off, on, all, off, on, all}));
    }

    void prefill_data()
    {
        QTest::addColumn<Prefill>("p");
        const QString a179 = "http://x/" + QString(170, u'a'), a180 = a179 + 'a',
                      none = "|[ ]|-|-6666|-[ ]|-|-";
        QTest::newRow("nothing selected") << Prefill{-1, {}, none};
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
        TaskRecord &a = main_->DownTask(1), &b = main_->DownTask(2), &c = main_->DownTask(3);
        a.ProxyHost = "not used";  // the proxy option was off
        b.UseProxy = c.UseProxy = -1, b.ProxyHost = "p2", b.ProxyPort = 3128, c.ProxyHost = "p3";
        c.ProxyPort = 3129, c.ProxyUser = "用户", c.ProxyPass = "pw";
        main_->SelRow = qint16(p.selRow), fake_->clipboard = p.clipboard;
        frmAdd d(*main_);
        d.Form_Activate();
        QCOMPARE(form(d), p.form);
    }

    void press_data()
    {
        QTest::addColumn<Press>("p");
        const QString dup = "该URL已经在下载队列中了！", bad = "代理服务器端口无效！";
        const QString u = "http://h/x", none = "http://h/x|0||0||";
        const int no = 1 << 20;  // refused
        QTest::newRow("letter case differs, proxy and user")
            << Press{"http://h/A", " 81.5 ", "PA", "http://h/A|-1|h|82|u|p", ""};
        QTest::newRow("listed already") << Press{"http://h/a", "", "PA", "", dup};
        QTest::newRow("nothing typed") << Press{"", "", "", "", ""};
        QTest::newRow("proxy unticked again") << Press{u, "x", "PAP", none, ""};
        // No number, 0 or a negative port would mean no proxy at all.
        const QList<std::pair<const char *, int>> ports{
            {"8080abc", 8080}, {"80.5", 80}, {"31\n28", 3128}, {"abc", no},
            {"", no},          {"0", no},    {"-5", no},       {"32768", no}};
        for (const auto &[text, port] : ports) {
            const QString stored = u + "|-1|h|" + QString::number(port) + "||";
            QTest::newRow(text) << Press{u, text, "P", port == no ? "" : stored,
                                         port == no ? bad : ""};
        }
    }
    void press()
    {
        QFETCH(Press, p);
        main_->SelRow = 9;  // past the spare record: nothing to prefill from
        frmAdd d(*main_);
        d.show();
        d.txtUrl->setText(p.url), d.txtProxy->setText("h"), d.txtPort->setText(p.port);
        d.txtID->setText("u"), d.txtPass->setText("p");
        for (const QChar c : p.clicks)
            (c == 'P' ? d.chkProxy : d.chkAuth)->click();
        d.cmdAdd[0]->click();
        QCOMPARE(fake_->messages.join(""), p.message);
        const bool open = !p.message.isEmpty();
        QVERIFY(d.isVisible() == open && main_->SelRow == (open ? 9 : 0));
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
