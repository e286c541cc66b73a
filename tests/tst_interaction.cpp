// The real window against a scripted loopback server: drops on the list and
// on the drop window, the whole road of one task through stops, restarts and
// a shortened file to a byte-identical copy, and a full list.
#include "support/fakeseams.h"
#include "support/realservers.h"
#include "support/scriptedserver.h"
#include "tasks/tasklistfile.h"
#include "widgets/minform.h"
#include "widgets/tasklistview.h"
#include "window/frmdown.h"

#include <QtTest>
#include <QtWidgets>

// A drop, the answer to its question, and what becomes of it: "added",
// "refused" (listed already), "declined", or "ignored" (files, not text).
struct Drop {
    bool onList;  // else on the drop window
    QString text;
    bool answerOk;
    QString outcome;
};
Q_DECLARE_METATYPE(Drop)

static QByteArray bytesOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class TestInteraction : public QObject {
    Q_OBJECT

    std::optional<QTemporaryDir> dir_;
    std::shared_ptr<FakeSeamsState> fake_;
    std::optional<ScriptedServer> server_;
    std::unique_ptr<frmDown> w_;

    const frmDownUi &ui() { return w_->ui(); }
    QString url(QString p) { return "http://127.0.0.1:" + QString::number(server_->port()) + p; }
    QString file(const QString &name) { return dir_->filePath(name); }
    void open()
    {
        w_ = std::make_unique<frmDown>(fakeSeams(fake_), dir_->path());
        w_->show();
        ui().Timer1->stop();  // nothing here depends on its ticks
    }
    void select(int row) { ui().LView->setCurrentItem(ui().LView->topLevelItem(row - 1)); }
    void dblClick(int row) { select(row), w_->LView_DblClick(); }
    bool idle() { return w_->engine().slotFree(1) && w_->engine().slotFree(2); }
    void addByDialog(const QString &url)
    {
        fake_->driveDialog = [url](QDialog &d) {
            d.findChild<QLineEdit *>("txtUrl")->setText(url);
            d.findChild<QPushButton *>("cmdAdd0")->click();
        };
        ui().menuadd->trigger();
    }
    // Drags `text` (as dropped files when `files`) onto the list or the drop
    // window and drops it there; true when the drag was welcome.
    bool drop(bool onList, const QString &text, bool files = false)
    {
        QMimeData data;
        data.setText(text);
        if (files)
            data.setUrls({QUrl(text)});
        QWidget *on = onList ? ui().LView->viewport() : static_cast<QWidget *>(w_->minForm());
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(on, &enter), QCoreApplication::sendEvent(on, &drop);
        return enter.isAccepted();
    }

    // Bytes `from` to `to` of `content`, as all of it (200) or its rest (206);
    // the connection stays open until the last byte was sent.
    static ScriptedServer::Script answer(const QByteArray &content, int from, int to)
    {
        const int n = int(content.size());
        const QString head
            = from ? QString::asprintf("206 Partial Content\r\nContent-Range: bytes %d-%d/%d",
                                       from, n - 1, n)
                   : QString::asprintf("200 OK\r\nContent-Length: %d", n);
        return ScriptedServer::split(
            "HTTP/1.1 " + head.toLatin1() + "\r\n\r\n" + content.mid(from, to - from), 1000, 0,
            to < n ? ScriptedServer::End::KeepOpen : ScriptedServer::End::Close);
    }

private Q_SLOTS:
    void init() { dir_.emplace(), fake_ = std::make_shared<FakeSeamsState>(), server_.emplace(); }
    void cleanup() { w_.reset(), server_.reset(); }

    // Row 1, "http://h/A", is marked for deletion; the window is minimized.
    void drops_data()
    {
        QTest::addColumn<Drop>("d");
        QTest::newRow("list, letter case differs") << Drop{true, "http://h/a", true, "added"};
        QTest::newRow("list, files") << Drop{true, "file:///tmp/a.txt", true, "ignored"};
        QTest::newRow("drop window, trailing blank") << Drop{false, "http://h/A ", true, "added"};
        QTest::newRow("drop window, listed") << Drop{false, "http://h/A", true, "refused"};
        QTest::newRow("drop window, Cancel") << Drop{false, "http://h/b", false, "declined"};
    }
    void drops()
    {
        QFETCH(Drop, d);
        open();
        w_->AddNewUrl("http://h/A");
        select(1), ui().menuDel->trigger();
        w_->showMinimized();
        fake_->answerOk = d.answerOk;
        const bool ignored = d.outcome == "ignored";
        QCOMPARE(drop(d.onList, d.text, ignored), !ignored);
        QCOMPARE(fake_->questions, ignored ? QStringList() : QStringList{"确定要下载" + d.text});
        QCOMPARE(fake_->messages.join(""),
                 d.outcome == "refused" ? "该URL已经在下载队列中了！" : "");
        QCOMPARE(w_->rowUrl(2) + w_->DownTask(2).Url, d.outcome == "added" ? d.text + d.text : "");
        QCOMPARE(w_->isMinimized(), d.onList || !d.answerOk || ignored);
    }

    // Add, start, stop, mark another task deleted, close; start again from a
    // file shortened meanwhile, close while it runs; start again and finish.
    void wholeRoad()
    {
        QByteArray content(200000, Qt::Uninitialized);
        for (int i = 0; i < content.size(); ++i)
            content[i] = char((i * 7 + i / 251) & 0xff);
        for (const auto &[from, to] : {std::pair(0, 50000), {30000, 120000}, {120000, 200000}})
            server_->addScript(answer(content, from, to));
        open();
        addByDialog(url("/road.bin"));
        const QString path = file("road.bin");
        dblClick(1);  // the save dialog cancelled
        QCOMPARE(w_->rowState(1) + w_->logText(), "stop");
        fake_->savePath = path;
        dblClick(1);
        QTRY_COMPARE(w_->DownTask(1).GotSize, qint64(50000));
        dblClick(1);  // once the request is out, a stop ends the transfer at once
        QVERIFY(idle());
        QCOMPARE(w_->rowState(1) + w_->logText().section("\r\n", -2),
                 "stop" + url("/road.bin") + "的下载因为用户取消被关闭了\r\n");
        w_->AddNewUrl(QString("http://127.0.0.1:%1/gone").arg(freeLoopbackPort()));
        fake_->savePath = file("gone");
        dblClick(2);
        QCOMPARE(w_->rowState(2) + ui().lblTishi->text(), "errorWisock1连接服务器失败！！");
        select(2), ui().menuDel->trigger();
        w_->close();

        open();
        QCOMPARE(QString::number(w_->rowCount()) + " " + w_->rowText(1, 2), "1 50000");
        QVERIFY(QFile::resize(path, 30000));  // shortened behind our back
        dblClick(1);
        QTRY_COMPARE(w_->DownTask(1).GotSize, qint64(120000));
        QVERIFY(server_->requests().at(1).contains("\r\nRange: bytes=30000-\r\n"));
        w_->close();  // closing while it runs keeps what is on disk

        open();
        QCOMPARE(w_->rowState(1), "stop");
        dblClick(1);
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 10000);
        QFile copy(path);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), content);
        QCOMPARE(fake_->saveSuggestions, QStringList({"road.bin", "road.bin", "gone"}));
        dblClick(1);
        QCOMPARE(ui().lblTishi->text() + w_->rowState(1), path + "已经下载完毕！！！ok");
    }

    // Row indices are 16-bit: the list reads, adds and keeps 32766 tasks at most.
    void fullList()
    {
        QVector<TaskRecord> records(32767);
        for (int i = 0; i < records.size(); ++i)
            records[i].Url = QString("http://h/%1").arg(i);
        records.last().Url = QString(200, 'u');  // past the rows, and kept whole
        QVERIFY(TaskListFile::write(file(TaskListFile::FileName), records));
        const QByteArray stored = bytesOf(file(TaskListFile::FileName));
        open();
        addByDialog("http://h/more");
        drop(true, "http://h/more"), drop(false, "http://h/more");
        QVERIFY(w_->rowCount() == 32766 && w_->DownTask.upperBound() == 32767);
        QCOMPARE(fake_->messages,
                 QStringList(3, "任务列表已满（最多32766个任务），不能再加入新任务！"));
        QVERIFY(w_->logText().contains("另有1个任务超出了32766个的上限，没有显示，会原样保存"));
        w_->close();
        QCOMPARE(bytesOf(file(TaskListFile::FileName)), stored);
        QCOMPARE(TaskListFile::read(file(TaskListFile::FileName)).unshown.size(), 1);
    }
};

QTEST_MAIN(TestInteraction)
#include "tst_interaction.moc"
