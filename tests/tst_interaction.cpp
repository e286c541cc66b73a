// The real window against a scripted loopback server: starting and stopping
// by double-click, both slots busy, the details and maps of the selected
// task, drops and the drop window, the whole road of one task through stops,
// restarts and a shortened file to a byte-identical copy, and a full list.
#include "support/fakeseams.h"
#include "support/realservers.h"
#include "support/scriptedserver.h"
#include "support/testsockets.h"
#include "tasks/tasklistfile.h"
#include "widgets/blockmappanel.h"
#include "widgets/minform.h"
#include "widgets/tasklistview.h"
#include "window/frmdown.h"

#include <QtTest>
#include <QtWidgets>

// One first start; in `log`, {u} stands for the task's URL, {p} for the file.
struct Start {
    QString url = "{u}";       // {u}: the server's file, {x}: a port nobody listens on
    QString chosen = "f.bin";  // what the save dialog answers; empty: cancelled
    bool complete = false;     // the record: 99 of 100 bytes are in /x/f.bin
    QString state = "ok", label;
    QStringList log;
};
Q_DECLARE_METATYPE(Start)

// A drop, the answer to its question, and what becomes of it: "added",
// "refused" (listed already), "declined", or "ignored" (files, not text).
enum Target { List, DropWindow };
enum Answer { Cancel, Ok };
struct Drop {
    Target target;
    QString text;
    Answer answer;
    QString outcome;
};
Q_DECLARE_METATYPE(Drop)

class TestInteraction : public QObject {
    Q_OBJECT

    std::optional<QTemporaryDir> dir_;
    std::shared_ptr<FakeSeamsState> fake_;
    std::optional<ScriptedServer> server_;
    std::unique_ptr<frmDown> w_;

    frmDown &w() { return *w_; }
    const frmDownUi &ui() { return w_->ui(); }
    QString url(const char *path)
    {
        return "http://127.0.0.1:" + QString::number(server_->port()) + path;
    }
    QString file(const QString &name) { return dir_->filePath(name); }
    void open(DownEngine::SocketFactory sockets = {})
    {
        w_ = std::make_unique<frmDown>(fakeSeams(fake_), dir_->path(), std::move(sockets));
        w_->show();
        ui().Timer1->stop();  // the test ticks it
    }
    void select(int row) { ui().LView->setCurrentItem(ui().LView->topLevelItem(row - 1)); }
    void dblClick(int row) { select(row), w().LView_DblClick(); }
    bool idle() { return w().engine().slotFree(1) && w().engine().slotFree(2); }
    bool shown(int i) { return ui().Pic[i]->isVisibleTo(ui().Pic[i]->parentWidget()); }
    void addByDialog(const QString &url)
    {
        fake_->driveDialog = [url](QDialog &d) {
            d.findChild<QLineEdit *>("txtUrl")->setText(url);
            d.findChild<QPushButton *>("cmdAdd0")->click();
        };
        ui().menuadd->trigger();
    }

    static QByteArray body(int size)
    {
        QByteArray b(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i)
            b[i] = char((i * 7 + i / 251) & 0xff);
        return b;
    }
    // Bytes `from` to `to` of `content`, as all of it (200) or its rest (206);
    // the connection stays open until the last byte was sent.
    static ScriptedServer::Script answer(const QByteArray &content, int from, int to)
    {
        const int n = int(content.size());
        const QString head = from ? QString("206 Partial Content\r\nContent-Range: bytes %1-%2/%3")
                                        .arg(from)
                                        .arg(n - 1)
                                        .arg(n)
                                  : QString("200 OK\r\nContent-Length: %1").arg(n);
        return ScriptedServer::split(
            "HTTP/1.1 " + head.toLatin1() + "\r\n\r\n" + content.mid(from, to - from), 1000, 0,
            to < n ? ScriptedServer::End::KeepOpen : ScriptedServer::End::Close);
    }
    static QByteArray readFile(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private Q_SLOTS:
    void init() { dir_.emplace(), fake_ = std::make_shared<FakeSeamsState>(), server_.emplace(); }
    void cleanup() { w_.reset(), server_.reset(); }

    void startPaths_data()
    {
        QTest::addColumn<Start>("c");
        const QString start = "开始下载：{u}";
        Start c;
        c.log = {start, "Winsock1与127.0.0.1连接成功！", "{u}开始下载", "{u}的下载完成了"};
        QTest::newRow("first start downloads") << c;
        c.chosen = QString(60, 'n');
        c.log.insert(1, "注意：本地文件路径超过50字节，任务列表只保存其前50字节，程序重新启动后将"
                        "无法续传此任务：{p}");
        QTest::newRow("path too long for the list") << c;
        c = Start(), c.chosen.clear(), c.state = "stop";
        QTest::newRow("save dialog cancelled") << c;
        c.complete = true, c.label = "/x/f.bin已经下载完毕！！！", c.log = {c.label};
        QTest::newRow("already complete") << c;
        c = Start(), c.url = "{x}", c.state = "error", c.label = "Wisock1连接服务器失败！！";
        c.log = {start, "{u}的下载因为Winsock出错被关闭了",
                 "{u}的下载因为连接服务器时间过长被关闭了", c.label};
        QTest::newRow("connection refused") << c;
        c = Start(), c.url = "ftp://h/f", c.state = "stop",
        c.label = "无法识别的URL地址：ftp://h/f";
        QTest::newRow("unusable URL") << c;
    }
    void startPaths()
    {
        QFETCH(Start, c);
        const QByteArray content = body(10000);
        server_->addScript(answer(content, 0, 10000));
        open();
        const quint16 port = c.url == "{x}" ? freeLoopbackPort() : server_->port();
        const QString u = QString("http://127.0.0.1:%1/dir/f.bin").arg(port),
                      path = file(c.chosen);
        w().AddNewUrl(c.url.startsWith('{') ? u : c.url);
        TaskRecord &r = w().DownTask(1);
        if (c.complete)
            r.FileSize = 100, r.GotSize = 99, r.FilePath = "/x/f.bin";
        if (!c.chosen.isEmpty())
            fake_->savePath = path;
        dblClick(1);
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 10000);
        QCOMPARE(w().rowState(1) + "|" + ui().lblTishi->text(), c.state + "|" + c.label);
        QCOMPARE(w().logText().replace(u, "{u}").replace(path, "{p}").split("\r\n"), c.log << "");
        const bool asked = !c.complete && c.url.startsWith('{'), ok = c.state == "ok";
        QCOMPARE(fake_->saveSuggestions, asked ? QStringList{"f.bin"} : QStringList());
        QCOMPARE(r.FilePath, ok ? path : c.complete ? "/x/f.bin" : "");
        QCOMPARE(server_->connections(), int(ok));
        if (ok)
            QCOMPARE(readFile(path), content);
        QCOMPARE(w().rowText(1, 1) + "/" + w().rowText(1, 2), ok ? "10000/10000" : "/");
        QVERIFY(!ok || !server_->requests().first().contains("Range:"));
    }

    // Rows 1 and 2 download, row 3 waits: starting it finds both slots busy;
    // a tick shows the elapsed time and each slot's dot; selecting a row shows
    // its details and its map, the right button the menu as well.
    void twoSlots()
    {
        server_->addScript(answer(body(100000), 0, 40960));
        open();
        w().AddNewUrl(url("/one")), w().AddNewUrl(url("/two")), w().AddNewUrl("http://h/idle");
        w().DownTask(1).FilePath = file("one"), w().DownTask(2).FilePath = file("two");
        TaskRecord &waiting = w().DownTask(3);
        waiting.FileSize = 1048576, waiting.GotSize = 524288, waiting.ProxyHost = "proxy";
        dblClick(1), w().Timer1_Timer(), dblClick(2);
        QTRY_VERIFY(w().DownTask(1).GotSize == 40960 && w().DownTask(2).GotSize == 40960);
        dblClick(3);
        QCOMPARE(ui().lblTishi->text() + w().rowState(3), "Wisock2已经有文件在下载了!!!stop");
        QVERIFY(w().logText().endsWith(
            "Wisock1已经有文件在下载了!!!\r\nWisock2已经有文件在下载了!!!\r\n"));
        fake_->nowMs += 3725 * 1000;
        w().Timer1_Timer();
        QCOMPARE(w().rowText(1, 3), "01:02:05");
        // Dots: slot 1 busy at both ticks, slot 2 at the second; each on its
        // own line of the drop window (y 12 and 20), 8 pixels further a tick.
        const QImage &dots = w().minForm()->image();
        QCOMPARE(QList<QRgb>({dots.pixel(8, 12), dots.pixel(16, 12), dots.pixel(8, 20),
                              dots.pixel(16, 20)}),
                 QList<QRgb>({qRgb(0, 0, 192), qRgb(0, 0, 0), qRgb(0, 0, 0), qRgb(0, 0, 0)}));

        select(3);
        w().LView_MouseUp(Qt::LeftButton, QPoint());
        QCOMPARE(w().SelRow, qint16(3));
        QCOMPARE(ui().txtFile->toPlainText(),
                 "URL:         http://h/idle\n文件名:      \n大小:        "
                 "1048576字节\n已下载大小:  524288字节\n代理服务器:  proxy\n");
        QVERIFY(shown(0) && !shown(1) && !shown(2) && !ui().menusetup->isVisible());
        select(2);
        w().LView_MouseUp(Qt::RightButton, ui().LView->mapToGlobal(QPoint(10, 10)));
        QVERIFY(shown(2) && !shown(0) && !shown(1));
        QTRY_VERIFY(ui().menusetup->isVisible());
        ui().menusetup->hide();
        QCOMPARE(ui().Pic[2]->image().pixelColor(80, 7), QColor(0, 0, 255));  // its tenth block
        dblClick(1), dblClick(2);
        QVERIFY(idle());
    }

    // A second double-click while the first still waits to connect stops it.
    void stopDuringConnectWait()
    {
        open([](int slot, QObject *parent) -> DownSocket * {
            return new NeverConnectSocket(slot, parent);
        });
        w().AddNewUrl("http://127.0.0.1:1/w");
        w().DownTask(1).FilePath = file("w");
        QTimer::singleShot(50, this, [this] { dblClick(1); });
        dblClick(1);
        QCOMPARE(w().rowState(1), "error");
        QCOMPARE(w().logText(),
                 "开始下载：http://127.0.0.1:1/w\r\nhttp://127.0.0.1:1/"
                 "w的下载因为连接服务器时间过长被关闭了\r\nWisock1连接服务器失败！！\r\n");
        QVERIFY(idle());
    }

    // Without a selected row the handlers do nothing; real double-clicks reach
    // the start handler, and on the drop window toggle the main window.
    void clicks()
    {
        open();
        w().AddNewUrl("ftp://h/x");
        ui().LView->setCurrentItem(nullptr);
        ui().LView->clearSelection();
        w().LView_DblClick(), w().LView_MouseUp(Qt::RightButton, QPoint()), w().menuDel_Click();
        QCOMPARE(w().rowState(1) + w().logText() + ui().lblTishi->text(), "stop");
        QCOMPARE(w().SelRow, qint16(-1));
        const QPoint at = ui().LView->visualItemRect(ui().LView->topLevelItem(0)).center();
        QTest::mouseClick(ui().LView->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(ui().LView->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(ui().lblTishi->text(), "无法识别的URL地址：ftp://h/x");

        w().showMaximized();
        w().MinForm_DblClick();
        QVERIFY(!w().isMaximized() && !w().isMinimized());
        QTest::mouseDClick(w().minForm(), Qt::LeftButton);
        QVERIFY(w().isMinimized());
        w().MinForm_DblClick();
        QVERIFY(!w().isMinimized());
    }

    // Row 1, "http://h/A", is marked for deletion; the window is minimized.
    void drops_data()
    {
        QTest::addColumn<Drop>("d");
        QTest::newRow("list, letter case differs") << Drop{List, "http://h/a", Ok, "added"};
        QTest::newRow("list, Cancel") << Drop{List, "http://h/b", Cancel, "declined"};
        QTest::newRow("list, files") << Drop{List, "file:///tmp/a.txt", Ok, "ignored"};
        QTest::newRow("drop window, trailing blank")
            << Drop{DropWindow, "http://h/A ", Ok, "added"};
        QTest::newRow("drop window, listed") << Drop{DropWindow, "http://h/A", Ok, "refused"};
        QTest::newRow("drop window, Cancel") << Drop{DropWindow, "http://h/b", Cancel, "declined"};
        QTest::newRow("drop window, files")
            << Drop{DropWindow, "file:///tmp/a.txt", Ok, "ignored"};
    }
    void drops()
    {
        QFETCH(Drop, d);
        open();
        w().AddNewUrl("http://h/A");
        select(1);
        ui().menuDel->trigger();
        QCOMPARE(w().rowState(1), "delete");
        w().showMinimized();
        fake_->answerOk = d.answer == Ok;
        QMimeData data;
        data.setText(d.text);
        if (d.outcome == "ignored")
            data.setUrls({QUrl(d.text)});
        QWidget *on
            = d.target == List ? ui().LView->viewport() : static_cast<QWidget *>(w().minForm());
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(on, &enter), QCoreApplication::sendEvent(on, &drop);
        QCOMPARE(enter.isAccepted(), d.outcome != "ignored");
        QCOMPARE(fake_->questions,
                 d.outcome == "ignored" ? QStringList() : QStringList{"确定要下载" + d.text});
        QCOMPARE(fake_->messages.join(""),
                 d.outcome == "refused" ? "该URL已经在下载队列中了！" : "");
        QCOMPARE(w().rowUrl(2) + w().DownTask(2).Url, d.outcome == "added" ? d.text + d.text : "");
        QCOMPARE(w().isMinimized(),
                 d.target == List || d.answer == Cancel || d.outcome == "ignored");
    }

    // Add, start, stop, mark another task deleted, close; start again from a
    // file shortened meanwhile, close while it runs; start again and finish.
    void wholeRoad()
    {
        const QByteArray content = body(200000);
        server_->addScript(answer(content, 0, 50000));
        server_->addScript(answer(content, 30000, 120000));
        server_->addScript(answer(content, 120000, 200000));
        open();
        addByDialog(url("/road.bin"));
        const QString path = file("road.bin");
        fake_->savePath = path;
        dblClick(1);
        QTRY_COMPARE(w().DownTask(1).GotSize, qint64(50000));
        dblClick(1);  // once the request is out, a stop ends the transfer at once
        QVERIFY(idle());
        QCOMPARE(w().rowState(1), "stop");
        QVERIFY(w().logText().endsWith(url("/road.bin") + "的下载因为用户取消被关闭了\r\n"));
        w().AddNewUrl("http://h/deleted");
        select(2);
        ui().menuDel->trigger();
        w().close();
        QCOMPARE(fake_->endCalls, 1);

        open();
        QCOMPARE(w().rowCount(), 1);
        QCOMPARE(w().rowText(1, 2), "50000");
        QVERIFY(QFile::resize(path, 30000));  // shortened behind our back
        dblClick(1);
        QTRY_COMPARE(w().DownTask(1).GotSize, qint64(120000));
        QVERIFY(server_->requests().at(1).contains("\r\nRange: bytes=30000-\r\n"));
        w().close();  // closing while it runs keeps what is on disk

        open();
        QCOMPARE(w().rowState(1), "stop");
        dblClick(1);
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 10000);
        QCOMPARE(w().rowState(1), "ok");
        QCOMPARE(readFile(path), content);
        QCOMPARE(fake_->saveSuggestions, QStringList{"road.bin"});
        // The list is written once: the session ending later leaves it alone.
        w().close();
        QVERIFY(QFile::remove(file(TaskListFile::FileName)));
        QMetaObject::invokeMethod(qApp, "aboutToQuit", Qt::DirectConnection);
        QVERIFY(!QFile::exists(file(TaskListFile::FileName)));
    }

    // Row indices are 16-bit: the list reads, adds and keeps 32766 tasks at most.
    void fullList()
    {
        QVector<TaskRecord> records(32767);
        for (int i = 0; i < records.size(); ++i)
            records[i].Url = QString("http://h/%1").arg(i);
        QVERIFY(TaskListFile::write(file(TaskListFile::FileName), records));
        open();
        addByDialog("http://h/more");
        w().AddNewUrl("http://h/more");
        QVERIFY(w().rowCount() == 32766 && w().DownTask.upperBound() == 32767
                && fake_->messages.isEmpty());
        w().close();
        QCOMPARE(QFileInfo(file(TaskListFile::FileName)).size(), 32766 * TaskListFile::RecordSize);
    }
};

QTEST_MAIN(TestInteraction)
#include "tst_interaction.moc"
