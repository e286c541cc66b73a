// links: window
// Starting and stopping by double-click, the details and block map of the
// selected task, drops and the drop window, in the real window against a
// scripted loopback server.
#include "app/frmdown.h"
#include "app/tasklistview.h"
#include "display/blockmappanel.h"
#include "support/fakeseams.h"
#include "support/realservers.h"
#include "support/scriptedserver.h"
#include "support/testsockets.h"
#include "ui/minform.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray body(int size)
{
    QByteArray b(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 7 + i / 251) & 0xff);
    return b;
}

QByteArray response200(const QByteArray &content)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(content.size())
        + "\r\nConnection: close\r\n\r\n" + content;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList logLines(frmDown &w)
{
    QStringList lines = w.logText().split(QStringLiteral("\r\n"));
    lines.removeLast();
    return lines;
}

} // namespace

class TestInteraction : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::shared_ptr<FakeSeamsState> fake_;
    std::unique_ptr<ScriptedServer> server_;
    std::unique_ptr<frmDown> w_;

    frmDown &w() { return *w_; }
    QString url(const char *path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(server_->port()).arg(QLatin1String(path));
    }
    QString target(const QString &name) const { return dir_.filePath(name); }

    void open(DownEngine::SocketFactory sockets = {})
    {
        w_ = std::make_unique<frmDown>(fakeSeams(fake_), dir_.path(), std::move(sockets));
        w_->show();
    }
    void select(int row) { w().LView->setCurrentItem(w().LView->topLevelItem(row - 1)); }
    void dblClick(int row)
    {
        select(row);
        w().LView_DblClick();
    }
    bool idle()
    {
        return w().engine().slotFree(1) && w().engine().slotFree(2);
    }

private Q_SLOTS:
    void init()
    {
        fake_ = std::make_shared<FakeSeamsState>();
        server_ = std::make_unique<ScriptedServer>();
    }
    void cleanup()
    {
        w_.reset();
        server_.reset();
        for (const QString &f : QDir(dir_.path()).entryList(QDir::Files))
            QFile::remove(dir_.filePath(f));
    }

    // One start in each of the ways a start can go.
    void startPaths_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QStringList>("log");
        const QString u = QStringLiteral("http://127.0.0.1:%1/dir/f.bin");
        QTest::newRow("first start downloads") << "download" << "ok" << QString()
            << QStringList{"开始下载：" + u, "Winsock1与127.0.0.1连接成功！", u + "开始下载",
                           u + "的下载完成了"};
        QTest::newRow("save dialog cancelled") << "cancel" << "stop" << QString() << QStringList{};
        QTest::newRow("already complete") << "complete" << "stop" << "/x/f.bin已经下载完毕！！！"
            << QStringList{"/x/f.bin已经下载完毕！！！"};
        QTest::newRow("connection refused") << "refused" << "error" << "Wisock1连接服务器失败！！"
            << QStringList{"开始下载：" + u, u + "的下载因为Winsock出错被关闭了",
                           u + "的下载因为连接服务器时间过长被关闭了", "Wisock1连接服务器失败！！"};
        QTest::newRow("unusable URL") << "badurl" << "stop" << "无法识别的URL地址：ftp://h/f"
            << QStringList{};
    }
    void startPaths()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, state);
        QFETCH(QString, label);
        QFETCH(QStringList, log);
        const QByteArray content = body(10000);
        server_->addScript(ScriptedServer::split(response200(content), 1000));
        open();
        const quint16 port =
            scenario == QLatin1String("refused") ? freeLoopbackPort() : server_->port();
        const QString u = QStringLiteral("http://127.0.0.1:%1/dir/f.bin").arg(port);
        w().AddNewUrl(scenario == QLatin1String("badurl") ? QStringLiteral("ftp://h/f") : u);
        if (scenario == QLatin1String("complete")) {
            w().DownTask(1).FileSize = 100;
            w().DownTask(1).GotSize = 99;
            w().DownTask(1).FilePath = QStringLiteral("/x/f.bin");
        }
        if (scenario != QLatin1String("cancel"))
            fake_->savePath = target(QStringLiteral("f.bin"));

        dblClick(1);
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 10000);
        QCOMPARE(w().rowState(1), state);
        QCOMPARE(w().lblTishi->text(), label.arg(port));
        QStringList expected;
        for (const QString &line : log)
            expected << line.arg(port);
        QCOMPARE(logLines(w()), expected);

        if (scenario == QLatin1String("download")) {
            QCOMPARE(fake_->saveSuggestions, QStringList{QStringLiteral("f.bin")});
            QCOMPARE(readFile(target(QStringLiteral("f.bin"))), content);
            QCOMPARE(w().DownTask(1).FilePath, target(QStringLiteral("f.bin")));
            QCOMPARE(w().DownTask(1).GotSize, qint64(10000));
            QCOMPARE(w().rowText(1, 1), QStringLiteral("10000"));
            QCOMPARE(w().rowText(1, 2), QStringLiteral("10000"));
            QVERIFY(!server_->requests().first().contains("Range:"));
        } else if (scenario == QLatin1String("cancel")) {
            QCOMPARE(w().engine().DownRow[1], qint16(0));
            QCOMPARE(server_->connections(), 0);
            QCOMPARE(w().DownTask(1).FilePath, QString());
        }
    }

    void bothSlotsBusy()
    {
        const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + body(5000);
        server_->addScript(ScriptedServer::split(head, 0, 0, ScriptedServer::End::KeepOpen));
        open();
        for (const char *p : {"/a", "/b", "/c"})
            w().AddNewUrl(url(p));
        for (int row = 1; row <= 3; ++row)
            w().DownTask(row).FilePath = target(QStringLiteral("f%1").arg(row));
        dblClick(1);
        dblClick(2);
        QTRY_COMPARE(server_->connections(), 2);
        QCOMPARE(w().engine().DownRow[1], qint16(1));
        QCOMPARE(w().engine().DownRow[2], qint16(2));

        dblClick(3);
        QCOMPARE(w().lblTishi->text(), QStringLiteral("Wisock2已经有文件在下载了!!!"));
        QVERIFY(w().logText().endsWith(QStringLiteral("Wisock1已经有文件在下载了!!!\r\n"
                                                      "Wisock2已经有文件在下载了!!!\r\n")));
        QCOMPARE(w().rowState(3), QStringLiteral("stop"));

        // The elapsed time of a running row shows once a second.
        fake_->nowMs += 3725 * 1000;
        w().Timer1_Timer();
        QCOMPARE(w().rowText(1, 3), QStringLiteral("01:02:05"));
    }

    // Once the request is out a stop ends the transfer at once; the next
    // start resumes from what is really on disk, without a dialog.
    void stopThenResume()
    {
        const QByteArray content = body(300000);
        server_->addScript(ScriptedServer::split("HTTP/1.1 200 OK\r\nContent-Length: 300000\r\n\r\n"
                                                 + content.left(100000), 0, 0, ScriptedServer::End::KeepOpen));
        server_->addScript(ScriptedServer::split("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes "
                                                 "60000-299999/300000\r\n\r\n" + content.mid(60000)));
        open();
        w().AddNewUrl(url("/big"));
        const QString path = target(QString(60, u'n'));   // too long for the list file
        fake_->savePath = path;
        dblClick(1);
        QTRY_COMPARE(w().DownTask(1).GotSize, qint64(100000));
        QVERIFY(w().logText().contains(QStringLiteral("只保存其前50字节")));

        dblClick(1);   // stop
        QVERIFY(idle());
        QCOMPARE(w().rowState(1), QStringLiteral("stop"));
        QVERIFY(w().logText().endsWith(url("/big") + QStringLiteral("的下载因为用户取消被关闭了\r\n")));
        QCOMPARE(readFile(path).size(), 100000);

        QVERIFY(QFile::resize(path, 60000));   // shortened behind our back
        dblClick(1);
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 10000);
        QCOMPARE(fake_->saveSuggestions.size(), 1);
        QVERIFY(server_->requests().at(1).contains("\r\nRange: bytes=60000-\r\n"));
        QCOMPARE(readFile(path), content);
        QCOMPARE(w().rowState(1), QStringLiteral("ok"));
    }

    void stopDuringConnectWait()
    {
        open([](int index, QObject *parent) -> DownSocket * {
            return new NeverConnectSocket(index, parent);
        });
        w().AddNewUrl(QStringLiteral("http://127.0.0.1:1/w"));
        w().DownTask(1).FilePath = target(QStringLiteral("w"));
        // The second double-click arrives while the first waits to connect.
        QTimer::singleShot(50, this, [this] { dblClick(1); });
        dblClick(1);
        QCOMPARE(w().rowState(1), QStringLiteral("error"));
        QCOMPARE(logLines(w()),
                 (QStringList{QStringLiteral("开始下载：http://127.0.0.1:1/w"),
                              QStringLiteral("http://127.0.0.1:1/w的下载因为连接服务器时间过长被关闭了"),
                              QStringLiteral("Wisock1连接服务器失败！！")}));
        QVERIFY(idle());
    }

    void noSelectionDoesNothing()
    {
        open();
        w().AddNewUrl(QStringLiteral("http://h/a"));
        w().LView->setCurrentItem(nullptr);
        w().LView->clearSelection();
        w().LView_DblClick();
        w().LView_MouseUp(Qt::RightButton, QPoint());
        w().menuDel_Click();
        QCOMPARE(w().rowState(1), QStringLiteral("stop"));
        QCOMPARE(w().SelRow, qint16(-1));
        QCOMPARE(w().logText(), QString());
        QVERIFY(fake_->saveSuggestions.isEmpty());
    }

    void detailsAndPanels()
    {
        const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + body(40960);
        server_->addScript(ScriptedServer::split(head, 0, 0, ScriptedServer::End::KeepOpen));
        open();
        w().AddNewUrl(url("/one"));
        w().AddNewUrl(url("/two"));
        w().AddNewUrl(QStringLiteral("http://h/idle"));
        w().DownTask(1).FilePath = target(QStringLiteral("one"));
        w().DownTask(2).FilePath = target(QStringLiteral("two"));
        TaskRecord &idleTask = w().DownTask(3);
        idleTask.FileSize = 1048576;
        idleTask.GotSize = 524288;
        idleTask.ProxyHost = QStringLiteral("proxy");
        dblClick(1);
        dblClick(2);
        QTRY_COMPARE(w().DownTask(2).GotSize, qint64(40960));
        auto shown = [this](int i) { return w().Pic[i]->isVisibleTo(w().Pic[i]->parentWidget()); };

        select(3);
        w().LView_MouseUp(Qt::LeftButton, QPoint());
        QCOMPARE(w().SelRow, qint16(3));
        QCOMPARE(w().txtFile->toPlainText(),
                 QStringLiteral("URL:         http://h/idle\n"
                                "文件名:      \n"
                                "大小:        1048576字节\n"
                                "已下载大小:  524288字节\n"
                                "代理服务器:  proxy\n"));
        QVERIFY(shown(0) && !shown(1) && !shown(2));
        QVERIFY(!w().menusetup->isVisible());

        // The task on slot 2 shows its live map; the right button opens the menu.
        select(2);
        w().LView_MouseUp(Qt::RightButton, w().LView->mapToGlobal(QPoint(10, 10)));
        QVERIFY(shown(2) && !shown(0) && !shown(1));
        QTRY_VERIFY(w().menusetup->isVisible());
        w().menusetup->hide();
        // Ten blocks received: the tenth circle is blue.
        QCOMPARE(w().Pic[2]->image().pixelColor(80, 7), QColor(0, 0, 255));
        dblClick(1);
        dblClick(2);
        QVERIFY(idle());
    }

    void drops_data()
    {
        QTest::addColumn<bool>("onMinForm");
        QTest::addColumn<bool>("answerOk");
        QTest::addColumn<bool>("files");
        QTest::addColumn<int>("rows");
        QTest::newRow("list, OK") << false << true << false << 1;
        QTest::newRow("list, Cancel") << false << false << false << 0;
        QTest::newRow("list, files") << false << true << true << 0;
        QTest::newRow("drop window, OK") << true << true << false << 1;
        QTest::newRow("drop window, Cancel") << true << false << false << 0;
        QTest::newRow("drop window, files") << true << true << true << 0;
    }
    void drops()
    {
        QFETCH(bool, onMinForm);
        QFETCH(bool, answerOk);
        QFETCH(bool, files);
        QFETCH(int, rows);
        open();
        fake_->answerOk = answerOk;
        w().showMinimized();
        QMimeData data;
        if (files)
            data.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.txt"))});
        else
            data.setText(QStringLiteral("http://h/dropped "));
        QWidget *target = onMinForm ? static_cast<QWidget *>(w().minForm)
                                    : static_cast<QWidget *>(w().LView->viewport());
        const QPoint at(5, 5);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);

        QCOMPARE(w().rowCount(), rows);
        QCOMPARE(fake_->questions, files ? QStringList{}
                                         : QStringList{QStringLiteral("确定要下载http://h/dropped ")});
        if (rows)
            QCOMPARE(w().rowUrl(1), QStringLiteral("http://h/dropped "));
        const bool restored = onMinForm && answerOk && !files;
        QCOMPARE(bool(w().windowState() & Qt::WindowMinimized), !restored);
    }

    void dropWindowDoubleClick()
    {
        open();
        w().showMaximized();
        w().MinForm_DblClick();
        QCOMPARE(w().windowState() & (Qt::WindowMinimized | Qt::WindowMaximized), Qt::WindowStates());
        QTest::mouseDClick(w().minForm, Qt::LeftButton);
        QVERIFY(w().windowState() & Qt::WindowMinimized);
        w().MinForm_DblClick();
        QVERIFY(!(w().windowState() & Qt::WindowMinimized));
    }

    // A real double-click on the list reaches the start handler.
    void doubleClickByMouse()
    {
        open();
        w().AddNewUrl(QStringLiteral("ftp://h/x"));
        const QPoint at = w().LView->visualItemRect(w().LView->topLevelItem(0)).center();
        QTest::mousePress(w().LView->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(w().LView->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(w().LView->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(w().lblTishi->text(), QStringLiteral("无法识别的URL地址：ftp://h/x"));
    }

    // Add, start, stop, close, start again and resume, twice over.
    void wholeRoad()
    {
        const QByteArray content = body(200000);
        auto partial = [&](int from, int to, bool keepOpen) {
            ScriptedServer::Script s;
            s.pieces = {{"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + QByteArray::number(from)
                             + "-199999/200000\r\n\r\n" + content.mid(from, to - from), 0}};
            s.end = keepOpen ? ScriptedServer::End::KeepOpen : ScriptedServer::End::Close;
            return s;
        };
        ScriptedServer::Script first;
        first.pieces = {{"HTTP/1.1 200 OK\r\nContent-Length: 200000\r\n\r\n" + content.left(50000), 0}};
        first.end = ScriptedServer::End::KeepOpen;
        server_->addScript(first);
        server_->addScript(partial(50000, 120000, true));
        server_->addScript(partial(120000, 200000, false));

        open();
        fake_->driveDialog = [this](QDialog &d) {
            d.findChild<QLineEdit *>(QStringLiteral("txtUrl"))->setText(url("/road.bin"));
            d.findChild<QPushButton *>(QStringLiteral("cmdAdd0"))->click();
        };
        w().menuadd->trigger();
        QCOMPARE(w().rowCount(), 1);
        fake_->savePath = target(QStringLiteral("road.bin"));
        dblClick(1);
        QTRY_COMPARE(w().DownTask(1).GotSize, qint64(50000));
        dblClick(1);
        w().close();
        QCOMPARE(fake_->endCalls, 1);
        w_.reset();

        open();
        QCOMPARE(w().rowText(1, 2), QStringLiteral("50000"));
        dblClick(1);
        QTRY_COMPARE(w().DownTask(1).GotSize, qint64(120000));
        w().close();   // closing while it runs keeps what is on disk
        w_.reset();

        open();
        QCOMPARE(w().rowState(1), QStringLiteral("stop"));
        dblClick(1);
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 10000);
        QCOMPARE(w().rowState(1), QStringLiteral("ok"));
        QCOMPARE(readFile(target(QStringLiteral("road.bin"))), content);
        QCOMPARE(fake_->saveSuggestions, QStringList{QStringLiteral("road.bin")});
    }
};

QTEST_MAIN(TestInteraction)
#include "tst_interaction.moc"
