// What the real window keeps of its tasks: the list written as it changes,
// what a record cannot hold kept beside it, a list folder that goes away, a
// proxy task without a usable port, a deletion mark, a local file changed
// under a running download, and the log's length.
#include "support/fakehost.h"
#include "support/fakeseams.h"
#include "support/scriptedserver.h"
#include "tasks/tasklistfile.h"
#include "widgets/tasklistview.h"
#include "window/frmdown.h"

#include <QtWidgets>

// Records are written with their leading fields only, the rest left empty.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

class tst_Integrity : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    std::shared_ptr<FakeSeamsState> fake_ = std::make_shared<FakeSeamsState>();
    QString list() { return dir_.filePath(TaskListFile::FileName); }
    auto open() { return std::make_unique<frmDown>(fakeSeams(fake_), dir_.path()); }
    QStringList urlsOnDisk()
    {
        QStringList urls;
        for (const TaskRecord &r : TaskListFile::read(list()).records)
            urls << r.Url;
        return urls;
    }
    void start(frmDown &w, int row)
    {
        w.ui().LView->setCurrentItem(w.ui().LView->topLevelItem(row - 1));
        w.LView_DblClick();
    }

private Q_SLOTS:
    void init() { QStandardPaths::setTestModeEnabled(true), fake_->messages.clear(); }
    void cleanup() { QDir(dir_.path()).removeRecursively(), QDir().mkpath(dir_.path()); }

    // Written as soon as it changes, not only at the end; a record that does
    // not hold its task keeps it whole in the companion file.
    void listFollowsChanges()
    {
        auto w = open();
        const QString longUrl = "http://h/" + QString(300, 'u'), odd = "http://h/øyvind";
        w->AddNewUrl(longUrl), w->AddNewUrl(odd), w->AddNewUrl("http://h/3");
        QTRY_COMPARE(urlsOnDisk(), QStringList({longUrl, odd, "http://h/3"}));
        w->ui().LView->setCurrentItem(w->ui().LView->topLevelItem(2));
        w->menuDel_Click();
        QTRY_COMPARE(urlsOnDisk(), QStringList({longUrl, odd}));
        // Marked, the row stays marked when its download ends.
        w->model().transition(3, TaskState::Stopped);
        QCOMPARE(w->rowState(3), "delete");
        // The list file itself holds what it always held: cut, "?" for ø.
        const QByteArray bytes = readFile(list());
        QCOMPARE(bytes.mid(2, 180), ("http://h/" + QString(171, 'u')).toLatin1());
        QCOMPARE(bytes.mid(334 + 2, 15), "http://h/?yvind");
    }

    // Every field that a record cuts, once whole in the companion file; an
    // entry that no longer matches its record is not used; a path that may be
    // cut is not written to without asking.
    void companion()
    {
        TaskRecord r{0, "http://h/" + QString(200, 'x'), "/tmp/" + QString(60, 'p'), 3221225472,
                     2147483648};
        r.ProxyHost = "p", r.ProxyUser = QString(25, 'n'), r.ProxyPass = "пароль";
        TaskRecord exact{0, "http://h/e", "/tmp/e", 2147483647, 5};
        QVERIFY(TaskListFile::write(list(), {r, exact, {0, "http://h/plain"}}));
        auto back = TaskListFile::read(list()).records;
        QCOMPARE(back.size(), 3);
        for (int i = 0; i < 2; ++i) {
            const TaskRecord &b = back[i], &w = i == 0 ? r : exact;
            QCOMPARE(QStringList({b.Url, b.FilePath, b.ProxyUser, b.ProxyPass}),
                     QStringList({w.Url, w.FilePath, w.ProxyUser, w.ProxyPass}));
            QCOMPARE(std::tuple(b.FileSize, b.SizeOpen, b.PathUncertain),
                     std::tuple(w.FileSize, false, false));
        }
        // No entry needed, no companion file.
        QVERIFY(TaskListFile::write(list(), {back[2]}));
        QVERIFY(!QFile::exists(TaskListFile::companionPath(list())));
        // Entries written for other records are not taken.
        QVERIFY(TaskListFile::write(list(), {r}));
        r.Url = "http://h/" + QString(200, 'y');
        const QByteArray other = TaskListFile::encodeRecord(r);
        QFile f(list());
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(other) == 334);
        f.close();
        back = TaskListFile::read(list()).records;
        QCOMPARE(back[0].Url, r.Url.left(180));
        QCOMPARE(std::pair(back[0].SizeOpen, back[0].PathUncertain), std::pair(true, true));
        // Such a task asks where to save, from its path, before anything is written.
        fake_->savePath.reset();
        auto w = open();
        start(*w, 1);
        QCOMPARE(fake_->saveSuggestions, QStringList(back[0].FilePath));
        QVERIFY(w->rowState(1) == "stop" && !QFile::exists(back[0].FilePath));
    }

    // A folder that no longer takes the list: the list goes to the data folder.
    void folderGone()
    {
        auto w = open();
        QVERIFY(QDir(dir_.path()).removeRecursively());
        w->AddNewUrl("http://h/kept");
        const QString kept
            = QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
                  .filePath(TaskListFile::FileName);
        QTRY_COMPARE(w->taskListPath(), kept);
        QCOMPARE(fake_->messages,
                 QStringList("任务列表无法保存到" + list() + "，已改为保存到" + kept));
        QCOMPARE(TaskListFile::read(kept).records.value(0).Url, "http://h/kept");
        // The folder back with the list left there: the next start reads the
        // newer one, once saying where it is.
        w.reset();
        QVERIFY(QDir().mkpath(dir_.path()) && TaskListFile::write(list(), {{0, "http://h/old"}}));
        QFile left(list());
        QVERIFY(left.open(QFile::ReadWrite)
                && left.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                                    QFileDevice::FileModificationTime));
        left.close();
        w = open();
        QCOMPARE(std::pair(w->taskListPath(), w->DownTask(1).Url),
                 std::pair(kept, QString("http://h/kept")));
        QCOMPARE(w->logText().count("任务列表已改为保存在" + kept + "\r\n"), 1);
        w.reset();
        QFile::remove(kept);
    }

    // A task that names a proxy without a usable port goes nowhere; a file
    // deleted under a running download is not made again from its tail; a
    // finished task whose file is gone starts again; the log keeps 10,000 lines.
    void startsAndEnds()
    {
        ScriptedServer server;
        server.addScript({{"HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nfour", "more"}, 300});
        const QString url = QString("http://127.0.0.1:%1/f").arg(server.port());
        TaskRecord proxied{0, url, dir_.filePath("p"), 0, 0, -1, "127.0.0.1", 0};
        TaskRecord done{0, url, dir_.filePath("gone"), 8, 8};
        QVERIFY(TaskListFile::write(list(), {proxied, done}));
        auto w = open();
        start(*w, 1);
        QVERIFY(w->logText().endsWith(url + "的代理服务器端口无效，没有开始下载\r\n")
                && server.requests().isEmpty());
        start(*w, 2);  // complete by its record, but its file is gone
        QTRY_VERIFY(w->DownTask(2).GotSize == 4);
        QFile::remove(done.FilePath);
        QTRY_VERIFY(w->engine().slotFree(1));
        QVERIFY(w->logText().endsWith(url + "的下载因为本地文件已改变被关闭了\r\n"));
        QVERIFY(!QFile::exists(done.FilePath) && w->rowState(2) == "stop");
        for (int i = 0; i < 10005; ++i)
            w->appendLog(QString::number(i));
        QVERIFY(w->logText().startsWith("5\r\n") && w->logText().endsWith("10004\r\n"));
    }

    // Reset twice, then the rest: the window retries on its own.
    void retriedInTheWindow()
    {
        const QByteArray file(30000, 'r'), head = "HTTP/1.1 206 P\r\nContent-Range: bytes ";
        ScriptedServer server;
        const auto reset = ScriptedServer::End::Reset;
        server.addScript(
            {{"HTTP/1.1 200 OK\r\nContent-Length: 30000\r\n\r\n" + file.left(10000)}, 50, reset});
        server.addScript(
            {{head + "10000-29999/30000\r\n\r\n" + file.mid(10000, 10000)}, 50, reset});
        server.addScript({{head + "20000-29999/30000\r\n\r\n" + file.mid(20000)}});
        fake_->savePath = dir_.filePath("r.bin");
        auto w = open();
        w->AddNewUrl(QString("http://127.0.0.1:%1/r.bin").arg(server.port()));
        start(*w, 1);
        for (int i = 0; i < 2; ++i) {
            QTRY_VERIFY(w->engine().retryPending(1));
            fake_->nowMs += 5000 << i, w->Timer1_Timer();
        }
        QTRY_COMPARE(w->rowState(1), "ok");
        QVERIFY(readFile(*fake_->savePath) == file && w->logText().count("次重试：") == 2);
    }
};

QTEST_MAIN(tst_Integrity)
#include "tst_integrity.moc"
