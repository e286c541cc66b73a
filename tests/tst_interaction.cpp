// Starting and stopping by double-click, the details and block map of the
// selected task, drops and the drop window, in the real window against a
// scripted loopback server.
#include "window/frmdown.h"
#include "widgets/tasklistview.h"
#include "widgets/blockmappanel.h"
#include "support/fakeseams.h"
#include "support/realservers.h"
#include "support/scriptedserver.h"
#include "support/testsockets.h"
#include "widgets/minform.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
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

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

ScriptedServer::Script answer(const QByteArray &head, const QByteArray &content, bool keepOpen = false)
{
    return ScriptedServer::split(head + "\r\n\r\n" + content, 0, 0,
                                 keepOpen ? ScriptedServer::End::KeepOpen : ScriptedServer::End::Close);
}

QByteArray partial(int from, int total)
{
    return "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + QByteArray::number(from) + "-"
        + QByteArray::number(total - 1) + "/" + QByteArray::number(total);
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
    bool idle() { return w().engine().slotFree(1) && w().engine().slotFree(2); }
    bool shown(int i) { return w().Pic[i]->isVisibleTo(w().Pic[i]->parentWidget()); }

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

    // One start in each of the ways a start can go; "{u}" is the task's URL
    // and "{p}" the chosen file.
    void startPaths_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QStringList>("log");
        const QString done = "{u}的下载完成了", start = "开始下载：{u}", link = "Winsock1与127.0.0.1连接成功！";
        QTest::newRow("first start downloads") << "download" << "ok" << "" << QStringList{start, link, "{u}开始下载", done};
        QTest::newRow("path too long for the list") << "long" << "ok" << ""
            << QStringList{start, "注意：本地文件路径超过50字节，任务列表只保存其前50字节，程序重新启动后将无法续传此任务：{p}",
                           link, "{u}开始下载", done};
        QTest::newRow("save dialog cancelled") << "cancel" << "stop" << "" << QStringList{};
        QTest::newRow("already complete") << "complete" << "stop" << "/x/f.bin已经下载完毕！！！"
                                          << QStringList{"/x/f.bin已经下载完毕！！！"};
        QTest::newRow("connection refused") << "refused" << "error" << "Wisock1连接服务器失败！！"
            << QStringList{start, "{u}的下载因为Winsock出错被关闭了", "{u}的下载因为连接服务器时间过长被关闭了",
                           "Wisock1连接服务器失败！！"};
        QTest::newRow("unusable URL") << "badurl" << "stop" << "无法识别的URL地址：ftp://h/f" << QStringList{};
    }
    void startPaths()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, state);
        QFETCH(QString, label);
        QFETCH(QStringList, log);
        const QByteArray content = body(10000);
        server_->addScript(ScriptedServer::split("HTTP/1.1 200 OK\r\nContent-Length: 10000\r\n\r\n" + content, 1000));
        open();
        const quint16 port = scenario == "refused" ? freeLoopbackPort() : server_->port();
        const QString u = QStringLiteral("http://127.0.0.1:%1/dir/f.bin").arg(port);
        const QString path = target(scenario == "long" ? QString(60, u'n') : QStringLiteral("f.bin"));
        w().AddNewUrl(scenario == "badurl" ? QStringLiteral("ftp://h/f") : u);
        if (scenario == "complete") {
            w().DownTask(1).FileSize = 100;
            w().DownTask(1).GotSize = 99;
            w().DownTask(1).FilePath = QStringLiteral("/x/f.bin");
        }
        if (scenario != "cancel")
            fake_->savePath = path;

        dblClick(1);
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 10000);
        QCOMPARE(w().rowState(1), state);
        QCOMPARE(w().lblTishi->text(), label);
        QString expected;
        for (const QString &line : log)
            expected += QString(line).replace("{u}", u).replace("{p}", path) + "\r\n";
        QCOMPARE(w().logText(), expected);
        if (state == "ok") {
            QCOMPARE(fake_->saveSuggestions, QStringList{QStringLiteral("f.bin")});
            QCOMPARE(readFile(path), content);
            QCOMPARE(w().DownTask(1).FilePath, path);
            QCOMPARE(w().rowText(1, 1) + "/" + w().rowText(1, 2), QStringLiteral("10000/10000"));
            QVERIFY(!server_->requests().first().contains("Range:"));
        }
        if (scenario == "cancel")
            QCOMPARE(server_->connections() + w().engine().DownRow[1] + w().DownTask(1).FilePath.size(), 0);
    }

    void bothSlotsBusy()
    {
        server_->addScript(answer("HTTP/1.1 200 OK\r\nContent-Length: 100000", body(5000), true));
        open();
        for (const char *p : {"/a", "/b", "/c"})
            w().AddNewUrl(url(p));
        for (int row = 1; row <= 3; ++row)
            w().DownTask(row).FilePath = target(QStringLiteral("f%1").arg(row));
        dblClick(1);
        dblClick(2);
        QTRY_COMPARE(server_->connections(), 2);
        QCOMPARE(w().engine().DownRow[1] * 10 + w().engine().DownRow[2], 12);
        dblClick(3);
        QCOMPARE(w().lblTishi->text(), QStringLiteral("Wisock2已经有文件在下载了!!!"));
        QVERIFY(w().logText().endsWith("Wisock1已经有文件在下载了!!!\r\nWisock2已经有文件在下载了!!!\r\n"));
        QCOMPARE(w().rowState(3), QStringLiteral("stop"));
        fake_->nowMs += 3725 * 1000;   // the elapsed time of a running row
        w().Timer1_Timer();
        QCOMPARE(w().rowText(1, 3), QStringLiteral("01:02:05"));
    }

    void stopDuringConnectWait()
    {
        open([](int index, QObject *parent) -> DownSocket * { return new NeverConnectSocket(index, parent); });
        w().AddNewUrl(QStringLiteral("http://127.0.0.1:1/w"));
        w().DownTask(1).FilePath = target(QStringLiteral("w"));
        // The second double-click arrives while the first waits to connect.
        QTimer::singleShot(50, this, [this] { dblClick(1); });
        dblClick(1);
        QCOMPARE(w().rowState(1), QStringLiteral("error"));
        QCOMPARE(w().logText(), QStringLiteral("开始下载：http://127.0.0.1:1/w\r\n"
                                               "http://127.0.0.1:1/w的下载因为连接服务器时间过长被关闭了\r\n"
                                               "Wisock1连接服务器失败！！\r\n"));
        QVERIFY(idle());
    }

    void noSelectionThenARealDoubleClick()
    {
        open();
        w().AddNewUrl(QStringLiteral("ftp://h/x"));
        w().LView->setCurrentItem(nullptr);
        w().LView->clearSelection();
        w().LView_DblClick();
        w().LView_MouseUp(Qt::RightButton, QPoint());
        w().menuDel_Click();
        QCOMPARE(w().rowState(1) + w().logText() + w().lblTishi->text(), QStringLiteral("stop"));
        QCOMPARE(w().SelRow, qint16(-1));
        // A real double-click on the row reaches the start handler.
        const QPoint at = w().LView->visualItemRect(w().LView->topLevelItem(0)).center();
        QTest::mousePress(w().LView->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(w().LView->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(w().LView->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(w().lblTishi->text(), QStringLiteral("无法识别的URL地址：ftp://h/x"));
    }

    void detailsAndPanels()
    {
        server_->addScript(answer("HTTP/1.1 200 OK\r\nContent-Length: 100000", body(40960), true));
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

        select(3);
        w().LView_MouseUp(Qt::LeftButton, QPoint());
        QCOMPARE(w().SelRow, qint16(3));
        QCOMPARE(w().txtFile->toPlainText(), QStringLiteral("URL:         http://h/idle\n文件名:      \n"
                                                            "大小:        1048576字节\n已下载大小:  524288字节\n"
                                                            "代理服务器:  proxy\n"));
        QVERIFY(shown(0) && !shown(1) && !shown(2) && !w().menusetup->isVisible());
        // The task on slot 2 shows its live map; the right button opens the menu.
        select(2);
        w().LView_MouseUp(Qt::RightButton, w().LView->mapToGlobal(QPoint(10, 10)));
        QVERIFY(shown(2) && !shown(0) && !shown(1));
        QTRY_VERIFY(w().menusetup->isVisible());
        w().menusetup->hide();
        QCOMPARE(w().Pic[2]->image().pixelColor(80, 7), QColor(0, 0, 255));   // the tenth block
        dblClick(1);
        dblClick(2);
        QVERIFY(idle());
    }

    void drops_data()
    {
        QTest::addColumn<bool>("onMinForm");
        QTest::addColumn<bool>("answerOk");
        QTest::addColumn<bool>("files");
        for (bool onMinForm : {false, true}) {
            const char *where = onMinForm ? "drop window, " : "list, ";
            QTest::addRow("%sOK", where) << onMinForm << true << false;
            QTest::addRow("%sCancel", where) << onMinForm << false << false;
            QTest::addRow("%sfiles", where) << onMinForm << true << true;
        }
    }
    void drops()
    {
        QFETCH(bool, onMinForm);
        QFETCH(bool, answerOk);
        QFETCH(bool, files);
        open();
        fake_->answerOk = answerOk;
        w().showMinimized();
        QMimeData data;
        data.setText(files ? QStringLiteral("/tmp/a.txt") : QStringLiteral("http://h/dropped "));
        if (files)   // what a file manager offers: the file list and its path as text
            data.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.txt"))});
        QWidget *target = onMinForm ? static_cast<QWidget *>(w().minForm) : w().LView->viewport();
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);

        const bool added = answerOk && !files;
        QCOMPARE(w().rowCount(), int(added));
        QCOMPARE(fake_->questions, files ? QStringList{} : QStringList{QStringLiteral("确定要下载http://h/dropped ")});
        if (added)
            QCOMPARE(w().rowUrl(1), QStringLiteral("http://h/dropped "));
        QCOMPARE(bool(w().windowState() & Qt::WindowMinimized), !(onMinForm && added));
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

    // Add, start, stop, close; start again from a file shortened meanwhile,
    // close while it runs; start again and finish: the exact bytes.
    void wholeRoad()
    {
        const QByteArray content = body(200000);
        server_->addScript(answer("HTTP/1.1 200 OK\r\nContent-Length: 200000", content.left(50000), true));
        server_->addScript(answer(partial(30000, 200000), content.mid(30000, 90000), true));
        server_->addScript(answer(partial(120000, 200000), content.mid(120000)));
        open();
        fake_->driveDialog = [this](QDialog &d) {
            d.findChild<QLineEdit *>(QStringLiteral("txtUrl"))->setText(url("/road.bin"));
            d.findChild<QPushButton *>(QStringLiteral("cmdAdd0"))->click();
        };
        w().menuadd->trigger();
        const QString path = target(QStringLiteral("road.bin"));
        fake_->savePath = path;
        dblClick(1);
        QTRY_COMPARE(w().DownTask(1).GotSize, qint64(50000));
        dblClick(1);   // once the request is out, a stop ends the transfer at once
        QVERIFY(idle());
        QCOMPARE(w().rowState(1), QStringLiteral("stop"));
        QVERIFY(w().logText().endsWith(url("/road.bin") + QStringLiteral("的下载因为用户取消被关闭了\r\n")));
        w().close();
        QCOMPARE(fake_->endCalls, 1);

        open();
        QCOMPARE(w().rowText(1, 2), QStringLiteral("50000"));
        QVERIFY(QFile::resize(path, 30000));   // shortened behind our back
        dblClick(1);
        QTRY_COMPARE(w().DownTask(1).GotSize, qint64(120000));
        QVERIFY(server_->requests().at(1).contains("\r\nRange: bytes=30000-\r\n"));
        w().close();   // closing while it runs keeps what is on disk

        open();
        QCOMPARE(w().rowState(1), QStringLiteral("stop"));
        dblClick(1);
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 10000);
        QCOMPARE(w().rowState(1), QStringLiteral("ok"));
        QCOMPARE(readFile(path), content);
        QCOMPARE(fake_->saveSuggestions, QStringList{QStringLiteral("road.bin")});
    }
};

QTEST_MAIN(TestInteraction)
#include "tst_interaction.moc"
