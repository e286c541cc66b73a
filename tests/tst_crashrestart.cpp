// The program killed with SIGKILL or SIGTERM in turn at moments spread over
// two downloads, one on each slot's thread, and started again, as after a
// crash or a log-out: each file only ever holds a prefix of the source, the
// list the program wrote holds each task with its size once bytes have come
// (after SIGTERM, with its count equal to the file), and the last start
// completes both byte for byte. The program is this test started again as "--download URL
// PATH URL PATH": the real window on the list beside the first PATH, which
// adds each URL once and starts it. Then a kill with one task running and
// two queued, and the start after it, with and without 启动时继续下载: the
// program is this test as "--queue FOLDER URL".
#include "support/fakehost.h"
#include "support/fakeseams.h"
#include "support/realservers.h"
#include "support/scriptedserver.h"
#include "tasks/settings.h"
#include "tasks/tasklistfile.h"
#include "widgets/tasklistview.h"
#include "window/frmdown.h"
#include "window/terminationsignals.h"

#include <QApplication>
#include <csignal>
#include <cstdio>

class tst_CrashRestart : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void killedAndResumed()
    {
        // Slowed down so that no run before the last can finish: the 20 kill
        // windows add up to under 7 s, at most 7 MiB a connection at 1 MiB/s.
        // A child that finished before its kill would exit normally.
        constexpr qint64 size = 12 << 20;
        LoopbackServer nginx;
        if (const QString why = nginx.startNginx(size, "limit_rate 1m;"); !why.isEmpty())
            QSKIP(qPrintable(why));
        QTemporaryDir saved;
        const QStringList paths{saved.filePath("f.bin"), saved.filePath("g.bin")};
        const QString list = saved.filePath(TaskListFile::FileName);
        const QString url = QString("http://127.0.0.1:%1/f.bin").arg(nginx.port);
        const QStringList args{"--download", url, paths[0], url + "?2", paths[1]};
        QProcess child;
        for (int run = 0; run <= 20; ++run) {  // the last run is left to finish
            child.start(QCoreApplication::applicationFilePath(), args);
            const bool term = run % 2 == 1;
            // A SIGTERM is the program's to handle from the moment it says it
            // listens for one; before that (a slow start) it ends the process.
            if (term)
                QVERIFY(child.waitForReadyRead(60000));
            if (!child.waitForFinished(run < 20 ? 150 + run * 20 : 120000)) {
                term ? void(::kill(pid_t(child.processId()), SIGTERM)) : child.kill();
                QVERIFY(child.waitForFinished());
                QCOMPARE(child.exitStatus(), term ? QProcess::NormalExit : QProcess::CrashExit);
            }
            for (int i = 0; i < 2; ++i) {
                QVERIFY(nginx.served.startsWith(readFile(paths[i])));
                const TaskRecord task = TaskListFile::read(list).records.value(i);
                if (term)
                    QCOMPARE(task.GotSize, QFileInfo(paths[i]).size());
                if (QFileInfo(paths[i]).size() > (1 << 20))
                    QCOMPARE(std::pair(task.FilePath, task.FileSize), std::pair(paths[i], size));
            }
        }
        for (int i = 0; i < 2; ++i) {
            QVERIFY(readFile(paths[i]) == nginx.served);
            QCOMPARE(TaskListFile::read(list).records.value(i).GotSize, size);
        }
    }

    // The child runs a and x (x marked, so not listed) and queues c, then b;
    // it is killed once its list says so. Started again, a goes first, then
    // c and b in their order, all to the end; or, without resuming, nothing.
    void queueAfterKill_data()
    {
        QTest::addColumn<bool>("resume");
        QTest::newRow("resumed") << true;
        QTest::newRow("not resumed") << false;
    }
    void queueAfterKill()
    {
        QFETCH(bool, resume);
        const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n";
        ScriptedServer server;  // the killed run's two connections stay open
        for (const QByteArray &answer : {head, head, head + QByteArray(5000, 'z')})
            server.addScript(
                {{answer},
                 0,
                 answer == head ? ScriptedServer::End::KeepOpen : ScriptedServer::End::Close});
        QTemporaryDir saved, config;
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {"--queue", saved.path(), QString("http://127.0.0.1:%1/").arg(server.port())});
        const auto listed = [&] {  // each task's standing and queue place
            QStringList stood;
            for (const TaskRecord &r :
                 TaskListFile::read(saved.filePath(TaskListFile::FileName)).records)
                stood << r.Url.right(1) + QString::number(int(r.StoodAs))
                             + QString::number(r.QueuePlace);
            return stood.join(' ');
        };
        QTRY_COMPARE_WITH_TIMEOUT(listed(), "a10 b22 c21", 20000);
        QTRY_COMPARE(server.requests().size(), 2);
        child.kill(), child.waitForFinished();

        const QByteArray wasHome = qgetenv("XDG_CONFIG_HOME");
        const auto restore = qScopeGuard([&] { qputenv("XDG_CONFIG_HOME", wasHome); });
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        Settings off;
        off.resumeAtStart = false;
        QVERIFY(resume || off.write());
        frmDown w(fakeSeams(std::make_shared<FakeSeamsState>()), saved.path());
        const auto outcome = [&] {
            QString started;
            for (const QString &line : w.logText().split("\r\n").filter("开始下载："))
                started += line.right(1);
            return w.rowState(1) + w.rowState(2) + w.rowState(3) + " " + started + " " + listed();
        };
        QTRY_COMPARE_WITH_TIMEOUT(
            outcome(), resume ? "okokok acb a00 b00 c00" : "stopstopstop  a00 b00 c00", 20000);
        QCOMPARE(server.requests().size(), resume ? 5 : 2);
    }
};

// The child of queueAfterKill: tasks a, x, b, c; a and x started, x marked
// while it runs, c and then b queued.
static int queueChild(const QString &folder, const QString &url)
{
    auto seams = std::make_shared<FakeSeamsState>();
    frmDown w(fakeSeams(seams), folder);
    for (const char *name : {"a", "x", "b", "c"}) {
        w.AddNewUrl(url + name);
        w.DownTask(w.rowCount()).FilePath = QDir(folder).filePath(name);
    }
    for (const int row : {1, 2, 4, 3}) {
        w.ui().LView->setCurrentItem(w.ui().LView->topLevelItem(row - 1));
        w.LView_DblClick();
    }
    w.ui().LView->setCurrentItem(w.ui().LView->topLevelItem(1));
    w.menuDel_Click();
    return QTest::qWaitFor([] { return false; }, 60000) ? 0 : 1;
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    tst_CrashRestart test;
    if (argc == 4 && qstrcmp(argv[1], "--queue") == 0)
        return queueChild(argv[2], argv[3]);
    if (argc < 6 || qstrcmp(argv[1], "--download") != 0)
        return QTest::qExec(&test, argc, argv);
    auto seams = std::make_shared<FakeSeamsState>();
    Seams childSeams = fakeSeams(seams);
    childSeams.endProgram = Seams::real().endProgram;
    frmDown w(childSeams, QFileInfo(argv[3]).path());
    closeOnTerminationSignals(w);
    std::fputs("ready\n", stdout), std::fflush(stdout);
    for (int row = 1; row <= 2; ++row) {  // the first free slot: 1, then 2
        if (w.rowCount() < row)
            w.AddNewUrl(argv[2 * row]);
        if (w.model().state(row) == TaskState::Queued)
            continue;  // it ran when the last run ended, and goes on by itself
        seams->savePath = QString(argv[2 * row + 1]);
        w.ui().LView->setCurrentItem(w.ui().LView->topLevelItem(row - 1));
        w.LView_DblClick();
    }
    const auto done = [&] { return w.rowState(1) == "ok" && w.rowState(2) == "ok"; };
    return QTest::qWaitFor(done, 120000) ? 0 : 1;
}

#include "tst_crashrestart.moc"
