// The window's widgets on their own: every control at its place, the drop
// window, the block map as painted, and the add-task dialog.
#include "support/fakehost.h"
#include "support/fakeseams.h"
#include "support/scriptedserver.h"
#include "tasks/piecemap.h"
#include "widgets/blockmappanel.h"
#include "widgets/minform.h"
#include "widgets/tasklistview.h"
#include "window/frmadd.h"
#include "window/frmdown.h"
#include "window/qttranslations.h"

#include <QtTest>
#include <QtWidgets>

// "name x,y wxh" for `top` (its size; a window's place on screen too) and
// every named control in it, sorted.
static QStringList places(QWidget *top)
{
    QStringList lines;
    QList<QWidget *> all = top->findChildren<QWidget *>();
    for (QWidget *w : all << top) {
        const QRect r = w != top ? w->geometry()
                                 : QRect(top->isWindow() ? top->pos() : QPoint(), top->size());
        if (!w->objectName().isEmpty() && !w->objectName().startsWith("qt_")
            && !qobject_cast<QTabBar *>(w->parentWidget()))
            lines << QString::asprintf("%s %d,%d %dx%d", qPrintable(w->objectName()), r.x(), r.y(),
                                       r.width(), r.height());
    }
    lines.sort();
    return lines;
}

// Reads block k's circle back from the picture, placed by hand (50 to a row,
// 120 twips apart, first centre at 120/100 twips, 15 twips to a pixel):
// 'B' received, 'W' missing, '.' no circle.
static QChar circleAt(const QImage &image, int k)
{
    QPoint p(120 * ((k - 1) % 50 + 1) / 15, (100 + 120 * ((k - 1) / 50)) / 15);
    const QRgb fill = image.pixel(p);
    while (p.y() > 0 && image.pixel(p) == fill)
        p.ry() -= 1;
    const QString colours = QColor(fill).name() + QColor(image.pixel(p)).name();
    return colours == "#0000ff#ff0000" ? 'B' : colours == "#ffffff#000000" ? 'W' : '.';
}

// DrawDownPic(1, mNum, mFlen, ReceiveBytes) for each of `calls`, on a blank
// panel, then, for a file of `size` bytes, its map of `pieces` drawn whole;
// `map` holds blocks 1.. as circleAt reads them, '.' beyond; `column`
// is row 1's "已下载大小" ("100" before), the row of slot 1's session.
struct MapCase {
    QList<std::array<qint64, 3>> calls;
    QString map, column;
    qint64 size = 0;
    QList<PieceMap::Range> pieces;
};
Q_DECLARE_METATYPE(MapCase)

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

class TestWindow : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::optional<QTemporaryDir> home_;
    std::shared_ptr<FakeSeamsState> fake_;
    std::optional<frmDown> main_;

private Q_SLOTS:
    // The add-task dialog: its prefill from the selected task and the
    // clipboard, its enabling rules, and what 加入 adds: the duplicate check,
    // the proxy, its port and its user. Its window has three tasks.
    void init()
    {
        // Each test's own settings and home folder, the last window gone first.
        main_.reset(), home_.emplace();
        qputenv("XDG_CONFIG_HOME", home_->filePath("config").toUtf8());
        qputenv("HOME", home_->filePath("home").toUtf8());
        fake_ = std::make_shared<FakeSeamsState>(), main_.emplace(fakeSeams(fake_), dir_.path());
        for (const char *url : {"http://h/a", "http://h/b", "http://h/c"})
            main_->AddNewUrl(url);
        main_->DownTask(1).ProxyHost = "not used";  // the proxy option was off
        TaskRecord &b = main_->DownTask(2), &c = main_->DownTask(3);
        b.UseProxy = c.UseProxy = -1, b.ProxyHost = "p2", b.ProxyPort = 3128;
        c.ProxyHost = "p3", c.ProxyPort = 3129, c.ProxyUser = "用户", c.ProxyPass = "pw";
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

    // What the main window shows before any task exists: the drop window
    // first and again on minimizing, the columns, every control at its fixed
    // place.
    void startUp()
    {
        QTemporaryDir dir;
        frmDown m(fakeSeams(std::make_shared<FakeSeamsState>()), dir.path());
        QVERIFY(m.minForm()->isVisible() && !m.isVisible());  // the drop window comes first
        QStringList columns;
        for (int c = 0; c < m.ui().LView->columnCount(); ++c)
            columns << m.ui().LView->headerItem()->text(c) + " "
                           + QString::number(m.ui().LView->columnWidth(c));
        QCOMPARE(
            columns.join(" | "),
            "URL地址 233 | 大小 80 | 已下载大小 80 | 时间 80 | 进度 70 | 速度 70 | 剩余时间 70");
        m.show();
        m.minForm()->close();
        m.showMinimized();  // brings the drop window back, whoever closed it
        QVERIFY(m.minForm()->isVisible());

        // Every control of both windows, and the drop window, where the twips
        // put them: on a mismatch the message lists them all.
        frmAdd add(m);
        const QString all
            = (places(m.centralWidget()) + places(m.minForm()) + places(&add)).join('\n');
        const QByteArray digest = QCryptographicHash::hash(all.toUtf8(), QCryptographicHash::Sha1);
        QVERIFY2(digest.toHex().startsWith("16badc4cd6d4"), qPrintable(all));
    }

    // With 保存时询问 off, files go straight into the download folder (made
    // when missing) under the URL's clean name, numbered where a file is
    // there or another task holds the path; a folder that cannot be made
    // gives the home folder and says so. 下载文件夹… and 保存时询问 are kept.
    void savingWithoutAsking_data()
    {
        QTest::addColumn<QString>("folder");  // inside the temporary folder unless absolute
        QTest::newRow("made when missing") << "dl";
        QTest::newRow("cannot be made") << "/proc/zipvane";
    }
    void savingWithoutAsking()
    {
        QFETCH(QString, folder);
        QTemporaryDir dir;
        Settings s;
        s.askWhereToSave = false, s.downloadFolder = QDir(dir.path()).absoluteFilePath(folder);
        QVERIFY(s.write());
        const QString lands = folder.startsWith('/') ? QDir::homePath() : s.downloadFolder;
        QVERIFY(writeFile(lands + "/f.bin", "theirs"));  // not ours to write over
        ScriptedServer server;
        server.addScript({{"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc"}});
        auto fake = std::make_shared<FakeSeamsState>();
        frmDown m(fakeSeams(fake), dir.path());
        const QString url = QString("http://127.0.0.1:%1/").arg(server.port());
        for (const char *path : {"a/f.bin?x=1", "b/f.bin", "c/%E4%B8%8B.bin#f"}) {
            m.AddNewUrl(url + path);
            m.ui().LView->setCurrentItem(m.ui().LView->topLevelItem(m.rowCount() - 1));
            m.LView_DblClick();
        }
        QTRY_VERIFY(m.rowState(1) == "ok" && m.rowState(2) == "ok" && m.rowState(3) == "ok");
        QCOMPARE(
            QStringList({m.DownTask(1).FilePath, m.DownTask(2).FilePath, m.DownTask(3).FilePath}),
            QStringList({lands + "/f (1).bin", lands + "/f (2).bin", lands + "/下.bin"}));
        QCOMPARE(readFile(lands + "/f.bin") + readFile(lands + "/f (2).bin"), "theirsabc");
        QCOMPARE(std::pair(fake->saveSuggestions.size(),
                           m.logText().contains("下载文件夹无法创建：" + s.downloadFolder)),
                 std::pair(qsizetype(0), folder.startsWith('/')));
        fake->folder = dir.filePath("other");
        m.ui().menuFolder->trigger(), m.ui().menuAsk->trigger();
        QCOMPARE(std::pair(Settings::read().downloadFolder, Settings::read().askWhereToSave),
                 std::pair(dir.filePath("other"), true));
    }

    // With asking off, the server's name replaces the URL's before the first
    // byte, made safe, kept in the folder, never over a file that is there or
    // that another task holds; a dialog's answer, or bytes on disk, keep theirs.
    void serverNames_data()
    {
        QTest::addColumn<QByteArray>("disposition");
        QTest::addColumn<bool>("ask");
        QTest::addColumn<QString>("lands");  // in the download folder
        QTest::newRow("filename") << QByteArray("attachment; filename=\"r.pdf\"") << false
                                  << "r.pdf";
        QTest::newRow("a path") << QByteArray("attachment; filename=\"../../../up.sh\"") << false
                                << "_.._.._up.sh";
        QTest::newRow("a file is there")
            << QByteArray("inline; filename=theirs.bin") << false << "theirs (1).bin";
        QTest::newRow("another task's")
            << QByteArray("inline; filename=held.bin") << false << "held (1).bin";
        QTest::newRow("nothing left")
            << QByteArray("attachment; filename=\"..\"") << false << "u.bin";
        QTest::newRow("asked") << QByteArray("attachment; filename=r.pdf") << true << "chosen.bin";
        QTest::newRow("the browser's") << QByteArray("attachment; filename=r.pdf") << false
                                       << "b/r.zip";  // the browser suggests "b/r.zip"
    }
    void serverNames()
    {
        QFETCH(QByteArray, disposition);
        QFETCH(bool, ask);
        QFETCH(QString, lands);
        QTemporaryDir dir;
        Settings s;
        s.askWhereToSave = ask, s.downloadFolder = dir.filePath("dl");
        QVERIFY(s.write() && writeFile(s.downloadFolder + "/theirs.bin", "theirs"));
        // The first answer is cut after 2 bytes: the start that resumes them
        // must keep the name they are under.
        ScriptedServer server;
        server.addScript({{"HTTP/1.1 200 OK\r\nETag: \"e\"\r\nContent-Disposition: " + disposition
                           + "\r\nContent-Length: 4\r\n\r\nab"}});
        server.addScript({{"HTTP/1.1 206 Partial\r\nContent-Disposition: attachment; "
                           "filename=later.bin\r\nContent-Range: bytes 2-3/4\r\n\r\ncd"}});
        auto fake = std::make_shared<FakeSeamsState>();
        fake->savePath = s.downloadFolder + "/chosen.bin";
        frmDown m(fakeSeams(fake), dir.path());
        m.AddNewUrl("http://127.0.0.1:1/held.bin");
        m.DownTask(1).FilePath = s.downloadFolder + "/held.bin";
        m.AddNewUrl(QString("http://127.0.0.1:%1/u.bin").arg(server.port()));
        if (lands.contains('/'))
            m.DownTask(2).SuggestedName = lands, lands = "b_r.zip";
        m.ui().LView->setCurrentItem(m.ui().LView->topLevelItem(1));
        m.LView_DblClick();
        QTRY_VERIFY(m.rowState(2) != "start");
        m.LView_DblClick();
        QTRY_COMPARE(m.rowState(2), "ok");
        QCOMPARE(m.DownTask(2).FilePath, s.downloadFolder + "/" + lands);
        QCOMPARE(readFile(m.DownTask(2).FilePath) + readFile(s.downloadFolder + "/theirs.bin"),
                 "abcdtheirs");
        QCOMPARE(QDir(s.downloadFolder).entryList(QDir::Files).size(), 2);
    }

    // A link from the browser with 保存时询问 on: the dialog asks once, with
    // the browser's name made safe, and the task starts at once from its
    // answer, sending what the site needs.
    void browserLinkAsksOnce()
    {
        QTemporaryDir dir;
        ScriptedServer server;
        server.addScript({{"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc"}});
        auto fake = std::make_shared<FakeSeamsState>();
        fake->savePath = dir.filePath("chosen.zip");
        frmDown m(fakeSeams(fake), dir.path());
        const QString url = QString("http://127.0.0.1:%1/get?id=1").arg(server.port());
        const UrlMessage::Item link{url,   true,   "http://127.0.0.1/page",
                                    "c=1", "UA/2", "a/报告.zip"};
        QCOMPARE(m.addOutsideUrls({link}), QList{UrlMessage::Outcome::Added});
        QTRY_COMPARE(m.rowState(1), "ok");
        QCOMPARE(fake->saveSuggestions, QStringList{"a_报告.zip"});
        QCOMPARE(readFile(dir.filePath("chosen.zip")), "abc");
        const QByteArray request = server.requests().value(0);
        QVERIFY2(request.contains("\r\nUser-Agent: UA/2\r\n")
                     && request.contains("\r\nReferer: http://127.0.0.1/page\r\nCookie: c=1\r\n"),
                 request.constData());
    }

    // The task menu's actions on a complete task and on one that downloads:
    // open the file (a complete one only) and its folder, copy the address,
    // delete the task with its file (asked first; a running one is stopped).
    void taskActions()
    {
        ScriptedServer server;
        server.addScript({{"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc"},
                          0,
                          ScriptedServer::End::KeepOpen});
        const QString done = dir_.filePath("done.bin"), running = dir_.filePath("run.bin");
        QVERIFY(writeFile(done, "abc"));
        main_->DownTask(1).FilePath = done, main_->DownTask(1).FileSize = 3;
        main_->DownTask(1).GotSize = 3;
        main_->AddNewUrl(QString("http://127.0.0.1:%1/run.bin").arg(server.port()));
        fake_->savePath = running;
        const auto select = [&](int row) {
            main_->ui().LView->setCurrentItem(main_->ui().LView->topLevelItem(row - 1));
        };
        select(4), main_->LView_DblClick();
        QTRY_COMPARE(main_->DownTask(4).GotSize, 3);
        QStringList enabled;
        for (const int row : {1, 4}) {
            select(row), main_->LView_MouseUp(Qt::RightButton, {});
            enabled << QString::number(main_->ui().menuOpenFile->isEnabled());
            main_->ui().mnuTask->hide();
            for (QAction *a :
                 {main_->ui().menuOpenFile, main_->ui().menuOpenFolder, main_->ui().menuCopyUrl})
                a->trigger();
        }
        QCOMPARE(enabled.join(""), "10");
        QCOMPARE(fake_->opened, QStringList({QUrl::fromLocalFile(done).toString(),
                                             QUrl::fromLocalFile(dir_.path()).toString(),
                                             QUrl::fromLocalFile(dir_.path()).toString()}));
        QCOMPARE(fake_->clipboard, main_->DownTask(4).Url);
        fake_->answerOk = false, select(1), main_->ui().menuDelFile->trigger();
        QVERIFY(QFile::exists(done));
        fake_->answerOk = true;
        for (const int row : {1, 4})
            select(row), main_->ui().menuDelFile->trigger();
        QCOMPARE(fake_->questions.last(), "确定要删除这个任务和它的文件吗？" + running);
        QVERIFY(!QFile::exists(done) && !QFile::exists(running));
        QVERIFY(main_->engine().slotFree(1) && main_->model().marked(1)
                && main_->model().marked(4));
    }

    // A larger window gives its extra width to the list, its URL column and
    // the tab control, and shares the extra height between list and tabs;
    // the legend keeps its size at the right edge. Its size comes back at
    // the next start.
    void grows()
    {
        QTemporaryDir dir;
        QSize designed;
        {
            frmDown m(fakeSeams(std::make_shared<FakeSeamsState>()), dir.path());
            m.show();
            m.AddNewUrl("http://127.0.0.1:1/big");
            m.DownTask(1).FileSize = m.DownTask(1).GotSize = 1 << 30;
            m.ui().LView->setCurrentItem(m.ui().LView->topLevelItem(0));
            m.LView_MouseUp(Qt::LeftButton, {});
            designed = m.size();
            m.resize(designed + QSize(200, 101));
            QTRY_COMPARE(m.centralWidget()->width(), 483 + 200);
            const auto &ui = m.ui();
            // The map shows more rows of the same circles: row 30 is drawn.
            ui.SSTab1Tabs->setCurrentIndex(1);
            QCOMPARE(ui.Pic[0]->image().pixelColor(8, 238), QColor(0, 0, 255));
            const QRect list = ui.LView->geometry(), tabs = ui.SSTab1->geometry(),
                        legend = ui.Frame2->geometry(), info = ui.txtInfo->geometry();
            QCOMPARE(QList<QRect>({list, tabs, legend, info}),
                     QList<QRect>({QRect(4, 16, 473 + 200, 165 + 50),
                                   QRect(4, 378, 333 + 200, 253 + 51),
                                   QRect(344 + 200, 328 + 50, 137, 253),
                                   QRect(4, 20, 413 + 200, 229 + 51)}));
            QCOMPARE(ui.LView->columnWidth(0), 233 + 200);
            // 每个任务的连接数: 自动 first, then 1 to 16; the choice is kept.
            QList<QAction *> choices = ui.menuConnections->actions();
            QCOMPARE(choices.size(), 17);
            QVERIFY(choices[0]->isChecked() && choices[0]->text() == "自动");
            choices[4]->trigger();
            m.close();
        }
        frmDown again(fakeSeams(std::make_shared<FakeSeamsState>()), dir.path());
        again.show();
        QCOMPARE(again.engine().connections(), 4);
        QVERIFY(again.ui().menuConnections->actions()[4]->isChecked());
        QCOMPARE(again.size(), designed + QSize(200, 101));
        again.setWindowState(Qt::WindowMaximized), again.close();
        QVERIFY(Settings::read().windowMaximized);
    }

    // 修改URL… on a task with 5 of its 10 bytes: the new address's answer
    // keeps the progress when it is the same file; another file (another
    // size, or a 200 for the whole) starts over and the log says so. An
    // unusable or listed address changes nothing.
    void changeUrl_data()
    {
        QTest::addColumn<QByteArrayList>("answers");
        QTest::addColumn<QString>("typed");  // "%1": the new server's address
        QTest::addColumn<QByteArray>("file");
        const QByteArray part = "HTTP/1.1 206 P\r\nETag: \"v1\"\r\nContent-Range: bytes 5-",
                         whole = "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nnew";
        QTest::newRow("same file")
            << QByteArrayList{part + "9/10\r\n\r\n56789"} << "%1" << QByteArray("0123456789");
        QTest::newRow("another size")
            << QByteArrayList{part + "11/12\r\n\r\n5678901", whole} << "%1" << QByteArray("new");
        QTest::newRow("the whole again") << QByteArrayList{whole} << "%1" << QByteArray("new");
        QTest::newRow("unusable") << QByteArrayList{} << "ftp://x/f" << QByteArray("01234");
        QTest::newRow("listed") << QByteArrayList{} << "http://h/b" << QByteArray("01234");
    }
    void changeUrl()
    {
        QFETCH(QByteArrayList, answers);
        QFETCH(QString, typed);
        QFETCH(QByteArray, file);
        ScriptedServer server;
        for (const QByteArray &answer : answers)
            server.addScript({{answer}});
        QTemporaryDir dir;
        auto fake = std::make_shared<FakeSeamsState>();
        frmDown m(fakeSeams(fake), dir.path());
        m.AddNewUrl("http://h/a"), m.AddNewUrl("http://h/b");
        const QString path = dir.filePath("f.bin"),
                      next = typed.arg(QString("http://127.0.0.1:%1/f").arg(server.port()));
        QVERIFY(writeFile(path, "01234"));
        TaskRecord &task = m.DownTask(1);
        task.FilePath = path, task.FileSize = 10, task.GotSize = 5, task.Validator = "\"v1\"";
        fake->driveDialog = [&](QDialog &d) {
            QCOMPARE(d.windowTitle() + static_cast<QInputDialog &>(d).labelText(),
                     "修改URL新的URL地址：");
            static_cast<QInputDialog &>(d).setTextValue(next);
            d.accept();
        };
        m.ui().LView->setCurrentItem(m.ui().LView->topLevelItem(0));
        m.ui().menuChangeUrl->trigger();
        const bool changed = !answers.isEmpty();
        QCOMPARE(m.rowUrl(1), changed ? next : "http://h/a");
        if (changed) {
            m.LView_DblClick();
            QTRY_VERIFY2(m.rowState(1) == "ok", qPrintable(m.logText()));
        }
        QCOMPARE(readFile(path), file);
        QCOMPARE(m.logText().contains("新地址的文件与原来的不同，将从头下载：" + next),
                 file == "new");
        QCOMPARE(fake->messages.join(""), typed.startsWith("ftp") ? "无法识别的URL地址：ftp://x/f"
                                          : changed               ? ""
                                                    : "该URL已经在下载队列中了！");
    }

    // The drop window's figures show on hover while another window is active.
    void dropWindowTooltip()
    {
        QTemporaryDir dir;
        frmDown m(fakeSeams(std::make_shared<FakeSeamsState>()), dir.path());
        m.show(), m.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&m) && !m.minForm()->isActiveWindow());
        m.minForm()->setToolTip("f  30.0%");
        QTest::mouseMove(m.minForm()->windowHandle(), QPoint(10, 10));
        QTRY_COMPARE(QToolTip::text(), "f  30.0%");
    }

    // Qt's own buttons speak Chinese as the rest does.
    void qtTexts()
    {
        QVERIFY(loadChineseQtTranslations(*qApp));
        QMessageBox box(QMessageBox::Question, "Zipvane", "?",
                        QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(box.button(QMessageBox::Ok)->text() + box.button(QMessageBox::Cancel)->text(),
                 "确定取消");
    }

    // The block map as the panel paints it: one circle per whole 4096 bytes,
    // 50 to a row, blue with a red outline once received, white with a black
    // one while missing; and the downloaded count an arrival shows in its row.
    void drawing_data()
    {
        QTest::addColumn<MapCase>("c");
        const qint64 max = 2147483647, twice = 1400 * 8192;
        const auto row = [](const char *tag, QList<std::array<qint64, 3>> calls, QString map,
                            QString column, qint64 size = 0, QList<PieceMap::Range> pieces = {}) {
            QTest::newRow(tag) << MapCase{calls, map, column, size, pieces};
        };
        // Whole blocks only; a later arrival adds its own, whatever length it gives.
        row("arrivals", {{9000, 20000, 0}, {4000, 0, 9000}}, "BBBW", "13000");
        row("redraw clears, 50 a row", {{0, 60 << 12, 60 << 12}, {0, 51 << 12, 50 << 12}},
            QString(50, 'B') + 'W', "100");
        // 28 rows fit the panel: whole, however much of the map lies below.
        row("largest file", {{0, max, max}}, QString(1400, 'B'), "100");
        // Larger than 1400 circles of 4 KiB: each circle an equal share (here
        // 8 KiB), filled once all of it is on disk.
        row("scaled", {{0, twice, 3 * 8192 + 8191}, {8192, twice, 3 * 8192 + 8191}},
            "BBBBW" + QString(1395, 'W'), "40959");
        // Pieces where they are, a block filled only when whole.
        row("pieces", {}, "BBWWWWWWWWB" + QString(48, 'W') + 'B', "100", 60 << 12,
            {{0, 2 << 12}, {10 << 12, (12 << 12) - 1}, {59 << 12, 60 << 12}});
        row("pieces, scaled", {}, "WBB" + QString(1395, 'W') + "BB", "100", twice,
            {{8192, 3 * 8192 + 5}, {twice - 2 * 8192 - 1, twice}});
    }
    void drawing()
    {
        QFETCH(MapCase, c);
        QTemporaryDir dir;
        frmDown m(fakeSeams(std::make_shared<FakeSeamsState>()), dir.path());
        m.AddUrl("http://h/a", "0", "100", {});
        m.engine().Down(1)->WhichDown = 1;
        for (const auto &[mNum, mFlen, ReceiveBytes] : c.calls)
            m.DrawDownPic(1, mNum, mFlen, ReceiveBytes);
        PieceMap pieces(c.size);
        for (const auto &[from, end] : c.pieces)
            pieces.add(from, end);
        if (c.size > 0)
            m.drawPieces(1, pieces, {});
        const QImage painted = m.ui().Pic[1]->grab().toImage();
        QString seen;
        for (int k = 1; k <= qMax(60, int(c.map.size())); ++k)
            seen += circleAt(painted, k);
        QCOMPARE(seen, c.map.leftJustified(seen.size(), '.'));
        QCOMPARE(m.rowText(1, 2), c.column);
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
