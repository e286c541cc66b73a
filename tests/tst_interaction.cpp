// The real window against a scripted loopback server: drops on the list and
// on the drop window, the keyboard, the whole road of one task through stops, restarts and
// a shortened file to a byte-identical copy, a full list, the queue after a
// kill; and what it keeps of
// its tasks: the list written as it changes, a list folder that goes away, a
// path a record cut, a proxy without a usable port, a local file changed under
// a running download, and the log's length.
#include "support/fakehost.h"
#include "support/fakeseams.h"
#include "support/scriptedserver.h"
#include "widgets/minform.h"
#include "widgets/tasklistview.h"
#include "window/frmadd.h"
#include "window/frmdown.h"

#include <QtTest>
#include <QtWidgets>

// Records are written with their leading fields only, the rest left empty.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// A drop and what becomes of it once asked: "added", "refused" (listed
// already), "declined" (Cancel), or "ignored" (files, not text).
struct Drop {
    bool onList;  // else on the drop window
    QString text, outcome;
};
Q_DECLARE_METATYPE(Drop)

// A key pressed on the list (row 1, "http://h/a", selected), on the menu
// bar, on the window, or in the add dialog once `typed` (its prefilled URL
// replaced), and what came of it: "urls|row 1's state|names the save dialog
// was asked for|the menu open|messages and dialogs shown".
struct Keys {
    QString on, typed;
    QKeyCombination key;
    QString outcome;
};
Q_DECLARE_METATYPE(Keys)

class TestInteraction : public QObject {
    Q_OBJECT

    std::optional<QTemporaryDir> dir_, config_;  // the settings file's folder too
    std::shared_ptr<FakeSeamsState> fake_;
    std::optional<ScriptedServer> server_;
    std::unique_ptr<frmDown> w_;

    void open()
    {
        w_ = std::make_unique<frmDown>(fakeSeams(fake_), dir_->path());
        w_->show();
        w_->ui().Timer1->stop();  // nothing here depends on its ticks
    }
    QString list() const { return dir_->filePath(TaskListFile::FileName); }
    // Slot 1 taken by row 1, whose server `silent` says nothing.
    void occupySlot1(ScriptedServer &silent)
    {
        silent.addScript({{}, 0, ScriptedServer::End::KeepOpen});
        w_->AddNewUrl(QString("http://127.0.0.1:%1/busy").arg(silent.port()));
        fake_->savePath = dir_->filePath("busy");
        dblClick(1);
    }
    void select(int row) { w_->ui().LView->setCurrentItem(w_->ui().LView->topLevelItem(row - 1)); }
    void dblClick(int row) { select(row), w_->LView_DblClick(); }
    // Drags `text` (a file when it names one) onto `on` and drops it there;
    // true when the drag was welcome.
    static bool drop(QWidget *on, const QString &text)
    {
        QMimeData data;
        data.setText(text);
        if (text.startsWith("file:"))
            data.setUrls({QUrl(text)});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(on, &enter), QCoreApplication::sendEvent(on, &drop);
        return enter.isAccepted();
    }

private Q_SLOTS:
    void init()
    {
        dir_.emplace(), config_.emplace(), fake_ = std::make_shared<FakeSeamsState>();
        server_.emplace(), qputenv("XDG_CONFIG_HOME", config_->path().toUtf8());
    }
    void cleanup() { w_.reset(), server_.reset(); }

    // Row 1, "http://h/A", is marked for deletion; the window is minimized.
    void drops_data()
    {
        QTest::addColumn<Drop>("d");
        QTest::newRow("list, letter case, blank") << Drop{true, "http://h/a ", "added"};
        QTest::newRow("list, files") << Drop{true, "file:///tmp/a.txt", "ignored"};
        QTest::newRow("drop window, listed") << Drop{false, "http://h/A", "refused"};
        QTest::newRow("drop window, Cancel") << Drop{false, "http://h/b", "declined"};
    }
    void drops()
    {
        QFETCH(Drop, d);
        open();
        w_->AddNewUrl("http://h/A");
        select(1), w_->ui().menuDel->trigger();
        w_->showMinimized();
        fake_->answerOk = d.outcome != "declined";
        const bool ignored = d.outcome == "ignored";
        QCOMPARE(drop(d.onList ? w_->ui().LView->viewport() : w_->minForm(), d.text), !ignored);
        QCOMPARE(fake_->questions, ignored ? QStringList() : QStringList{"确定要下载" + d.text});
        QCOMPARE(fake_->messages.size(), int(d.outcome == "refused"));  // its text: tst_frmadd
        QCOMPARE(w_->rowUrl(2) + w_->DownTask(2).Url, d.outcome == "added" ? d.text + d.text : "");
        QCOMPARE(w_->isMinimized(), d.onList || !fake_->answerOk || ignored);
    }

    void keyboard_data()
    {
        QTest::addColumn<Keys>("k");
        const QString a = "http://h/a";
        QTest::newRow("Enter starts") << Keys{"list", {}, Qt::Key_Return, a + ",|stop|a||"};
        QTest::newRow("Delete marks") << Keys{"list", {}, Qt::Key_Delete, a + ",|delete|||"};
        QTest::newRow("Alt+F") << Keys{
            "menu bar", {}, Qt::ALT | Qt::Key_F, a + ",|stop||menufile|"};
        QTest::newRow("typed over, Enter")
            << Keys{"dialog", "http://h/b", Qt::Key_Return, a + ",http://h/b|stop|||"};
        QTest::newRow("Escape") << Keys{"dialog", "http://h/b", Qt::Key_Escape, a + ",|stop|||"};
        QTest::newRow("unusable URL") << Keys{"dialog", "ftp://h/c", Qt::Key_Enter,
                                              a + ",|stop|||无法识别的URL地址：ftp://h/c"};
    }
    void keyboard()
    {
        QFETCH(Keys, k);
        open();
        w_->AddNewUrl("http://h/a");
        select(1), w_->SelRow = 1;
        QVERIFY(QTest::qWaitForWindowActive(w_.get()));
        fake_->driveDialog = [this](QDialog &d) { fake_->messages << d.windowTitle(); };
        if (k.on == "dialog") {
            frmAdd d(*w_);
            d.show();
            QTRY_COMPARE(QApplication::focusWidget(), d.txtUrl);  // its URL selected
            QTest::keyClicks(QApplication::focusWidget(), k.typed);
            QTest::keyClick(QApplication::focusWidget(), k.key.key(), k.key.keyboardModifiers());
            const bool open = k.outcome.contains("无法识别");  // 取消 and 加入 unselect the row
            QCOMPARE(std::pair(d.isVisible(), int(w_->SelRow)), std::pair(open, int(open)));
        } else {
            QWidget *on = k.on == "list"       ? static_cast<QWidget *>(w_->ui().LView)
                          : k.on == "menu bar" ? static_cast<QWidget *>(w_->menuBar())
                                               : w_.get();
            QTest::keyClick(on, k.key.key(), k.key.keyboardModifiers());
        }
        const QWidget *menu = QApplication::activePopupWidget();
        QCOMPARE(QStringList({w_->rowUrl(1) + "," + w_->rowUrl(2), w_->rowState(1),
                              fake_->saveSuggestions.join(','), menu ? menu->objectName() : "",
                              fake_->messages.join(',')})
                     .join('|'),
                 k.outcome);
    }

    // Add; start, the save dialog cancelled and then answered; another task
    // fails to connect on the other slot and is marked deleted; stop; close. Start again from a
    // file shortened meanwhile, close while it runs; start again and finish.
    // The server answers the three requests with bytes 0-50000 (all of it
    // announced), 30000-120000 and the rest, holding the connection open
    // until its last byte was sent.
    void wholeRoad()
    {
        const int n = 200000;
        QByteArray content(n, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(content.data()), n / 4);
        for (const auto &[from, to] : {std::pair(0, 50000), {30000, 120000}, {120000, n}}) {
            const QByteArray head = from ? "206 Partial Content\r\nContent-Range: bytes "
                                               + QByteArray::number(from) + "-199999/200000"
                                         : QByteArray("200 OK\r\nContent-Length: 200000");
            const auto end = to < n ? ScriptedServer::End::KeepOpen : ScriptedServer::End::Close;
            server_->addScript(
                {{"HTTP/1.1 " + head + "\r\n\r\n", content.mid(from, to - from)}, 0, end});
        }
        open();
        w_->AddNewUrl(QString("http://127.0.0.1:%1/road.bin").arg(server_->port()));
        const QString path = dir_->filePath("road.bin");
        dblClick(1);  // the save dialog cancelled
        QCOMPARE(w_->rowState(1) + w_->logText(), "stop");
        fake_->savePath = path;
        dblClick(1);
        QTRY_COMPARE(w_->DownTask(1).GotSize, qint64(50000));
        const QString gone = QString("http://127.0.0.1:%1/gone").arg(freeLoopbackPort());
        w_->AddNewUrl(gone);
        fake_->savePath = dir_->filePath("gone");
        dblClick(2);  // on slot 2, while slot 1 runs
        QTRY_COMPARE(w_->rowState(2) + w_->ui().lblTishi->text(),
                     "errorWisock2连接服务器失败！！");
        dblClick(1);  // once the request is out, a stop ends the transfer at once
        QVERIFY(w_->engine().slotFree(1) && w_->rowState(1) == "stop");
        select(2), w_->ui().menuDel->trigger();
        w_->close();

        open();
        QCOMPARE(QString::number(w_->rowCount()) + " " + w_->rowText(1, 2), "1 50000");
        QVERIFY(QFile::resize(path, 30000));  // shortened behind our back
        dblClick(1);
        QTRY_COMPARE(w_->DownTask(1).GotSize, qint64(120000));
        QVERIFY(server_->requests().at(1).contains("\r\nRange: bytes=30000-\r\n"));
        w_->close();  // closing while it runs keeps what is on disk

        open();  // what ran at exit goes on by itself
        QTRY_VERIFY_WITH_TIMEOUT(w_->rowState(1) == "ok", 10000);
        QCOMPARE(readFile(path), content);
        // The folder answered last comes first in the next dialog.
        QCOMPARE(fake_->saveSuggestions,
                 QStringList({"road.bin", "road.bin", dir_->filePath("gone")}));
        dblClick(1);
        QCOMPARE(w_->ui().lblTishi->text() + w_->rowState(1), path + "已经下载完毕！！！ok");
        // The tray told of the failure and the completion, not of the stops;
        // its menu brings the window back and closes it.
        QCOMPARE(fake_->notices, QStringList({"下载失败: " + gone, "下载完毕: road.bin"}));
        w_->hide(), Q_EMIT fake_->tray->showRequested();
        QVERIFY(w_->isVisible());
        Q_EMIT fake_->tray->quitRequested();
        QVERIFY(!w_->isVisible());
    }

    // A retry falls due while the save dialog of another row is open: the
    // retry takes slot 1, and the answer starts the other row on slot 2.
    // Both finish; neither is left without its slot.
    void retryWhileTheSaveDialogIsOpen()
    {
        const QByteArray file(10000, 'r');
        server_->addScript(
            {{"HTTP/1.1 200 OK\r\nContent-Length: 10000\r\n\r\n" + file.left(4000)}});
        // Then the whole file for both, whichever connects first (the retry starts over).
        server_->addScript(
            ScriptedServer::split("HTTP/1.1 200 OK\r\nContent-Length: 10000\r\n\r\n" + file));
        open();
        const QString url = QString("http://127.0.0.1:%1/").arg(server_->port());
        w_->AddNewUrl(url + "a"), w_->AddNewUrl(url + "b");
        fake_->savePath = dir_->filePath("a");
        dblClick(1);
        QTRY_VERIFY(w_->engine().retryPending(1));  // dropped at 4000 of 10000
        // Its state, the countdown in 剩余时间 and the details, as the clock goes.
        select(1), w_->LView_MouseUp(Qt::LeftButton, {});
        const auto shown = [this] {
            return QStringList{w_->rowState(1), w_->ui().LView->topLevelItem(0)->toolTip(0),
                               w_->rowText(1, 6),
                               w_->ui().txtFile->toPlainText().section('\n', -2, -2)}
                .join('|');
        };
        QCOMPARE(shown(), "retry|等待重试|00:00:05|下次重试:    第2次，5秒后");
        fake_->nowMs += 2000, w_->Timer1_Timer();
        QCOMPARE(shown(), "retry|等待重试|00:00:03|下次重试:    第2次，3秒后");
        fake_->holdSaveDialog = true;
        dblClick(2);
        QVERIFY(fake_->heldSaveAnswer);
        fake_->nowMs += 3000, w_->Timer1_Timer();
        QCOMPARE(w_->engine().DownRow[1], qint16(1));
        fake_->heldSaveAnswer(dir_->filePath("b"));
        QCOMPARE(w_->engine().DownRow[2], qint16(2));
        QTRY_VERIFY(w_->rowState(1) == "ok" && w_->rowState(2) == "ok");
        QCOMPARE(std::pair(readFile(dir_->filePath("a")), readFile(dir_->filePath("b"))),
                 std::pair(file, file));
    }

    // The figures the window shows while bytes flow, on slot 2: 10000 bytes
    // a second by the test's clock, read from the row, the details and the
    // drop window's tooltip.
    void figuresWhileItRuns()
    {
        const QByteArray piece(10000, 'f');
        server_->addScript(
            {{"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + piece, piece, piece},
             300,
             ScriptedServer::End::KeepOpen});
        ScriptedServer silent;
        open();
        occupySlot1(silent);
        w_->AddNewUrl(QString("http://127.0.0.1:%1/f").arg(server_->port()));
        fake_->savePath = dir_->filePath("f");
        dblClick(2);
        w_->LView_MouseUp(Qt::LeftButton, {});  // a click on it: its details follow the figures
        for (qint64 got = 10000; got <= 30000; got += 10000) {
            QTRY_COMPARE(w_->DownTask(2).GotSize, got);
            fake_->nowMs += 1000, w_->Timer1_Timer();
        }
        const int p = 4;  // 进度, then 速度 and 剩余时间
        const QStringList shown{w_->rowText(2, p), w_->rowText(2, p + 1), w_->rowText(2, p + 2)};
        QCOMPARE(shown.join('|'), "30.0%|9.77 KB/s|00:00:07");
        QCOMPARE(w_->ui().txtFile->toPlainText(),
                 "URL:         " + w_->DownTask(2).Url + "\n文件名:      " + dir_->filePath("f")
                     + "\n大小:        100000字节\n已下载大小:  30000字节\n代理服务器:  \n"
                       "进度:        30.0%\n速度:        9.77 KB/s\n剩余时间:    00:00:07\n"
                       "连接数:      1\n");
        QCOMPARE(w_->minForm()->toolTip(), "busy    0.000 B/s\nf  30.0%  9.77 KB/s");
        dblClick(2);  // a stop on slot 2, through the handler
        QVERIFY(w_->engine().slotFree(2) && w_->rowState(2) == "stop");
        QCOMPARE(w_->rowText(2, p) + "|" + w_->rowText(2, p + 1),
                 "30.0%|");  // no speed once stopped
    }

    // A stop (double-click) or a delete (删除) through the handlers, on
    // either slot, while the connection is made (a TLS handshake the server
    // never answers), while the header arrives, while the body does, and once
    // the server dropped it and its retry waits (a delete, 全部停止 or a
    // close: a double-click there starts it again); then the server is gone
    // and the retry's time comes. No retry is
    // made, the slot is free, a stopped task keeps its count equal to its
    // file, a deleted one is left out of the list.
    void stopsAndDeletes_data()
    {
        QTest::addColumn<int>("slot");
        QTest::addColumn<QString>("phase");
        QTest::addColumn<QString>("action");
        for (int slot : {1, 2})
            for (const char *phase : {"connect", "header", "body", "waiting"})
                for (const char *action : {"stop", "delete"})
                    if (qstrcmp(phase, "waiting") || qstrcmp(action, "stop"))
                        QTest::addRow("slot %d, %s, %s", slot, phase, action)
                            << slot << QString(phase) << QString(action);
        for (const char *action : {"stop all", "close"})
            QTest::addRow("slot 1, waiting, %s", action) << 1 << "waiting" << QString(action);
    }
    void stopsAndDeletes()
    {
        QFETCH(int, slot);
        QFETCH(QString, phase);
        QFETCH(QString, action);
        ScriptedServer silent;  // slot 1 waits on it when the test is on slot 2
        const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
        server_->addScript({{phase == "header" ? head.left(20) : head + QByteArray(30000, 'b')},
                            0,
                            ScriptedServer::End::KeepOpen});
        open();
        if (slot == 2)
            occupySlot1(silent);
        const QString url = QString("%1://127.0.0.1:%2/f")
                                .arg(phase == "connect" ? "https" : "http")
                                .arg(server_->port());
        w_->AddNewUrl(url);
        const int row = slot;
        fake_->savePath = dir_->filePath("f");
        dblClick(row);
        QCOMPARE(w_->engine().DownRow[slot], qint16(row));
        if (phase == "connect") {
            QTest::qWait(100);
            QVERIFY(w_->engine().Down(slot)->connecting());
        } else if (phase == "header") {
            QTRY_VERIFY(fake_->clipboard.startsWith("HTTP/1.1 200"));
        } else {
            QTRY_COMPARE(w_->DownTask(row).GotSize, qint64(30000));
        }
        if (phase == "waiting") {
            server_.reset();  // dropped at 30000 of 100000: a retry is booked
            QTRY_VERIFY(w_->engine().retryPending(row));
        }
        if (action == "delete") {
            select(row), w_->ui().menuDel->trigger();
        } else if (action == "stop all") {
            w_->ui().menuStopAll->trigger();
        } else if (action == "close") {
            w_->close();
        } else {
            dblClick(row);
            QVERIFY(w_->engine().slotFree(slot));
        }
        server_.reset();
        QTRY_VERIFY(w_->engine().slotFree(slot));
        fake_->nowMs += 6000, w_->Timer1_Timer();
        QVERIFY(w_->engine().slotFree(slot) && !w_->logText().contains("次重试："));
        QVERIFY(action == "close" || !w_->engine().retryPending(row));
        QCOMPARE(w_->DownTask(row).GotSize, QFileInfo(dir_->filePath("f")).size());
        w_->close();
        QCOMPARE(listedUrls(list()).contains(url), action != "delete");
    }

    // 全部开始 over seven tasks, one complete and one marked: the first two
    // start, the third is asked for its path and queued, the others queued,
    // without a busy line; a mark takes the last out, and a double-click the
    // fourth. 全部停止
    // then empties the queue and stops both downloads, each count equal to
    // its file.
    void startAllStopAll()
    {
        server_->addScript({QByteArrayList{"HTTP/1.1 200 OK\r\nContent-Length: 400000\r\n\r\n"}
                                + QByteArrayList(50, QByteArray(4000, 's')),
                            30, ScriptedServer::End::KeepOpen});
        open();
        const QString url = QString("http://127.0.0.1:%1/").arg(server_->port());
        const QStringList names{"a", "b", "c", "d", "done", "gone", "e"};
        for (const QString &name : names) {
            w_->AddNewUrl(url + name);
            if (name != "c")
                w_->DownTask(w_->rowCount()).FilePath = dir_->filePath(name);
        }
        w_->DownTask(5).FileSize = w_->DownTask(5).GotSize = 10, w_->model().settle(5);
        select(6), w_->ui().menuDel->trigger();
        fake_->savePath = dir_->filePath("c");
        w_->ui().menuStartAll->trigger();
        QCOMPARE(fake_->saveSuggestions, QStringList{"c"});
        QCOMPARE(w_->model().queue(), QVector<int>({3, 4, 7}));
        select(7), w_->ui().menuDel->trigger();
        QCOMPARE(w_->model().queue(), QVector<int>({3, 4}));
        QCOMPARE(w_->rowState(3) + w_->rowState(4) + w_->rowState(5) + w_->rowState(6),
                 "queuequeueokdelete");
        QCOMPARE(w_->ui().LView->topLevelItem(3)->toolTip(0), "排队");
        QCOMPARE(w_->ui().lblTishi->text(), "排队等候：" + url + "e");
        QVERIFY(w_->logText().contains("排队等候：" + url + "c\r\n"));
        QVERIFY(!w_->logText().contains("已经有文件在下载了"));
        dblClick(4);
        QCOMPARE(w_->model().queue(), QVector<int>({3}));
        QCOMPARE(w_->rowState(4), "stop");
        QTRY_VERIFY(w_->DownTask(1).GotSize > 0 && w_->DownTask(2).GotSize > 0);
        w_->ui().menuStopAll->trigger();
        QTest::qWait(100);  // nothing starts from the queue
        QVERIFY(w_->model().queue().isEmpty() && w_->engine().slotFree(1)
                && w_->engine().slotFree(2));
        for (int row = 1; row <= 3; ++row) {
            QCOMPARE(w_->rowState(row), "stop");
            QCOMPARE(w_->DownTask(row).GotSize, QFileInfo(dir_->filePath(names[row - 1])).size());
        }
        QCOMPARE(server_->requests().size(), 2);
    }

    // The list as a kill leaves it while a and x run (x marked, so not
    // listed) and c, then b, wait in the queue: a window started on a copy of
    // it runs a first, then c and b in their order, the queue going on past
    // c, which is not found; or, without 启动时继续下载, nothing.
    void queueAfterKill_data()
    {
        QTest::addColumn<bool>("resume");
        QTest::newRow("resumed") << true;
        QTest::newRow("not resumed") << false;
    }
    void queueAfterKill()
    {
        QFETCH(bool, resume);
        ScriptedServer missing;
        missing.addScript(ScriptedServer::split("HTTP/1.1 404 Not Found\r\n\r\n"));
        const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n";
        for (const QByteArray &answer : {head, head, head + QByteArray(5000, 'z')})
            server_->addScript(
                {{answer},
                 0,
                 answer == head ? ScriptedServer::End::KeepOpen : ScriptedServer::End::Close});
        open();
        for (const char *name : {"a", "x", "b", "c"}) {
            const quint16 port = *name == 'c' ? missing.port() : server_->port();
            w_->AddNewUrl(QString("http://127.0.0.1:%1/%2").arg(port).arg(name));
            w_->DownTask(w_->rowCount()).FilePath = dir_->filePath(name);
        }
        for (const int row : {1, 2, 4, 3})
            dblClick(row);
        select(2), w_->menuDel_Click();
        const auto listed = [](const QString &folder) {  // each task's standing and queue place
            QStringList stood;
            for (const TaskRecord &r :
                 TaskListFile::read(folder + "/" + TaskListFile::FileName).records)
                stood << r.Url.right(1) + QString::number(int(r.StoodAs))
                             + QString::number(r.QueuePlace);
            return stood.join(' ');
        };
        QTRY_COMPARE(listed(dir_->path()), "a10 b22 c21");
        QTRY_COMPARE(server_->requests().size(), 2);
        QTemporaryDir after;  // what is on disk now is all a kill would leave
        for (const QString &path : {list(), TaskListFile::companionPath(list())})
            QVERIFY(QFile::copy(path, after.filePath(QFileInfo(path).fileName())));
        Settings off;
        off.resumeAtStart = false;
        QVERIFY(resume || off.write());
        frmDown again(fakeSeams(std::make_shared<FakeSeamsState>()), after.path());
        const auto outcome = [&] {
            QString started;
            for (const QString &line : again.logText().split("\r\n").filter("开始下载："))
                started += line.right(1);
            return again.rowState(1) + again.rowState(2) + again.rowState(3) + " " + started + " "
                   + listed(after.path());
        };
        QTRY_COMPARE_WITH_TIMEOUT(
            outcome(), resume ? "okokerror acb a00 b00 c00" : "stopstopstop  a00 b00 c00", 20000);
        QCOMPARE(server_->requests().size(), resume ? 4 : 2);
    }

    // The settings file, as read at start-up: the menus' checks, the log,
    // and what a start while both slots are busy does; a change of the
    // menu is written at once.
    void settings_data()
    {
        QTest::addColumn<QByteArray>("file");  // null: none
        QTest::addColumn<QString>("outcome");  // "checks|log says unreadable|third start"
        QTest::newRow("none") << QByteArray() << "11|0|queued";
        QTest::newRow("both off") << QByteArray(
            "[General]\nqueueWhenBusy=false\nresumeAtStart=false\n")
                                  << "00|0|refused";
        QTest::newRow("not INI") << QByteArray("\x01\xff[[ ==") << "11|1|queued";
        QTest::newRow("not a boolean")
            << QByteArray("[General]\nqueueWhenBusy=maybe\n") << "11|1|queued";
        QTest::newRow("not a limit")
            << QByteArray("[General]\nspeedLimitKBps=-5\n") << "11|1|queued";
    }
    void settings()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, outcome);
        QVERIFY(file.isNull() || writeFile(Settings::path(), file));
        server_->addScript({{}, 0, ScriptedServer::End::KeepOpen});
        open();
        for (const char *name : {"a", "b", "c"}) {
            w_->AddNewUrl(QString("http://127.0.0.1:%1/%2").arg(server_->port()).arg(name));
            w_->DownTask(w_->rowCount()).FilePath = dir_->filePath(name);
        }
        dblClick(1), dblClick(2), dblClick(3);
        const QString busy = "Wisock1已经有文件在下载了!!!\r\nWisock2已经有文件在下载了!!!\r\n",
                      log = w_->logText();
        QCOMPARE(
            QString("%1%2|%3|%4")
                .arg(int(w_->ui().menuQueue->isChecked()))
                .arg(int(w_->ui().menuResume->isChecked()))
                .arg(int(log.contains("设置文件无法读取，已使用默认设置：" + Settings::path())))
                .arg(w_->rowState(3) == "queue" ? "queued"
                     : log.endsWith(busy)       ? "refused"
                                                : log),
            outcome);
        w_->ui().menuQueue->trigger();
        QCOMPARE(Settings::read().queueWhenBusy, w_->ui().menuQueue->isChecked());
    }

    // 限速… for all downloads is a setting read at start; a task's own is
    // kept with the task across a restart. A cancelled dialog changes nothing.
    void limits()
    {
        Settings kept;
        kept.speedLimitKBps = 64;
        QVERIFY(kept.write());
        open();
        QCOMPARE(w_->engine().speedLimit(), 64 * 1024);
        int answer = 0;  // 0: cancel
        QStringList asked;
        fake_->driveDialog = [&](QDialog &d) {
            auto &input = static_cast<QInputDialog &>(d);
            asked << d.windowTitle() + input.labelText() + QString::number(input.intValue());
            input.setIntValue(answer);
            answer ? input.accept() : input.reject();
        };
        w_->AddNewUrl("http://h/a");
        select(1);
        for (QAction *entry : {w_->ui().menuLimit, w_->ui().menuTaskLimit})
            for (const int kb : {0, 128})
                answer = kb, entry->trigger();
        const QString label = "限速每秒最多下载多少KB（0为不限速）：";
        QCOMPARE(asked, QStringList({label + "64", label + "64", label + "0", label + "0"}));
        QCOMPARE(std::pair(Settings::read().speedLimitKBps, w_->engine().speedLimit()),
                 std::pair(128ll, 128ll * 1024));
        w_->close();
        open();
        QCOMPARE(w_->DownTask(1).SpeedLimit, 128 * 1024);
    }

    // Row indices are 16-bit: the list reads, adds and keeps 32766 tasks at
    // most; the last record, past the rows, stays as it was.
    void fullList()
    {
        TaskRecord plain;
        plain.Url = "http://h/f";
        QVector<TaskRecord> records(32767, plain);
        records.last().Url = QString(200, 'u');  // kept whole beside its record
        QVERIFY(TaskListFile::write(list(), records));
        const QByteArray stored = readFile(list());
        open();
        fake_->driveDialog = [](QDialog &d) {
            d.findChild<QLineEdit *>("txtUrl")->setText("http://h/more");
            d.findChild<QPushButton *>("cmdAdd0")->click();
        };
        w_->ui().menuadd->trigger();
        drop(w_->ui().LView->viewport(), "http://h/more"), drop(w_->minForm(), "http://h/more");
        QVERIFY(w_->rowCount() == 32766 && w_->DownTask.upperBound() == 32767);
        QCOMPARE(fake_->messages,
                 QStringList(3, "任务列表已满（最多32766个任务），不能再加入新任务！"));
        QVERIFY(w_->logText().contains("另有1个任务超出了32766个的上限"));
        w_->close();
        QCOMPARE(readFile(list()), stored);
    }

    // Written as soon as it changes, not only at the end; a record that does
    // not hold its task keeps it whole in the companion file. Marked, a row
    // stays marked when its download ends.
    void listFollowsChanges()
    {
        open();
        const QString longUrl = "http://h/" + QString(300, 'u'), odd = "http://h/øyvind";
        w_->AddNewUrl(longUrl), w_->AddNewUrl(odd), w_->AddNewUrl("http://h/3");
        QTRY_COMPARE(listedUrls(list()), QStringList({longUrl, odd, "http://h/3"}));
        select(3), w_->menuDel_Click();
        QTRY_COMPARE(listedUrls(list()), QStringList({longUrl, odd}));
        w_->model().transition(3, TaskState::Stopped);
        QCOMPARE(w_->rowState(3), "delete");
        // The list file itself holds what it always held: cut, "?" for ø.
        const QByteArray bytes = readFile(list());
        QCOMPARE(bytes.mid(2, 180), ("http://h/" + QString(171, 'u')).toLatin1());
        QCOMPARE(bytes.mid(334 + 2, 15), "http://h/?yvind");
    }

    // A path read cut from its record (no companion entry) is not written to
    // without asking: the save dialog is asked, from that path, first.
    void uncertainPath()
    {
        const TaskRecord cut{0, "http://h/" + QString(200, 'x'), "/tmp/" + QString(60, 'p')};
        QVERIFY(TaskListFile::write(list(), {cut})
                && QFile::remove(TaskListFile::companionPath(list())));
        open();
        dblClick(1);
        QCOMPARE(fake_->saveSuggestions, QStringList(w_->DownTask(1).FilePath));
        QVERIFY(w_->rowState(1) == "stop" && !QFile::exists(w_->DownTask(1).FilePath));
    }

    // A folder that no longer takes the list: the list goes to the data folder.
    void folderGone()
    {
        QStandardPaths::setTestModeEnabled(true);
        const QString kept
            = QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
                  .filePath(TaskListFile::FileName);
        const auto restore = qScopeGuard(
            [&] { w_.reset(), QFile::remove(kept), QStandardPaths::setTestModeEnabled(false); });
        open();
        QVERIFY(QDir(dir_->path()).removeRecursively());
        w_->AddNewUrl("http://h/kept");
        QTRY_COMPARE(w_->taskListPath(), kept);
        QCOMPARE(fake_->messages,
                 QStringList("任务列表无法保存到" + list() + "，已改为保存到" + kept));
        QCOMPARE(TaskListFile::read(kept).records.value(0).Url, "http://h/kept");
        // The folder back with the list left there: the next start reads the
        // newer one, once saying where it is.
        w_.reset();
        QVERIFY(QDir().mkpath(dir_->path()) && TaskListFile::write(list(), {{0, "http://h/old"}})
                && writeFile(list(), readFile(list()), QDateTime::currentDateTime().addSecs(-60)));
        open();
        QCOMPARE(std::pair(w_->taskListPath(), w_->DownTask(1).Url),
                 std::pair(kept, QString("http://h/kept")));
        QCOMPARE(w_->logText().count("任务列表已改为保存在" + kept + "\r\n"), 1);
    }

    // A task that names a proxy without a usable port goes nowhere; a file
    // deleted under a running download is not made again from its tail; a
    // finished task whose file is gone starts again; the log keeps 10,000 lines.
    void startsAndEnds()
    {
        server_->addScript({{"HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nfour", "more"}, 300});
        const QString url = QString("http://127.0.0.1:%1/f").arg(server_->port());
        const TaskRecord proxied{0, url, dir_->filePath("p"), 0, 0, -1, "127.0.0.1", 0};
        const TaskRecord done{0, url, dir_->filePath("gone"), 8, 8};
        QVERIFY(TaskListFile::write(list(), {proxied, done}));
        open();
        dblClick(1);
        QVERIFY(w_->logText().endsWith(url + "的代理服务器端口无效，没有开始下载\r\n")
                && server_->requests().isEmpty());
        dblClick(2);  // complete by its record, but its file is gone
        QTRY_VERIFY(w_->DownTask(2).GotSize == 4);
        QFile::remove(done.FilePath);
        QTRY_VERIFY(w_->engine().slotFree(1));
        QVERIFY(w_->logText().endsWith(url + "的下载因为本地文件已改变被关闭了\r\n"));
        QVERIFY(!QFile::exists(done.FilePath) && w_->rowState(2) == "stop");
        for (int i = 0; i < 10005; ++i)
            w_->appendLog(QString::number(i));
        QVERIFY(w_->logText().startsWith("5\r\n") && w_->logText().endsWith("10004\r\n"));
    }
};

QTEST_MAIN(TestInteraction)
#include "tst_interaction.moc"
