// The program killed with SIGKILL or SIGTERM in turn at moments spread over
// two downloads, one on each slot's thread, each on four connections, and
// started again, as after a crash or a log-out: each file only ever holds
// the source's bytes where its piece map says (a prefix when it has none),
// the list the program wrote holds each task with its size once bytes have
// come, or its map does (after SIGTERM, with its count equal to what is on disk), and the
// last start completes both byte for byte. The program is this test started again as "--download URL
// PATH URL PATH": the real window on the list beside the first PATH, which
// adds each URL once and starts it.
#include "support/fakehost.h"
#include "support/fakeseams.h"
#include "support/realservers.h"
#include "tasks/piecemap.h"
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
        constexpr qint64 size = 24 << 20;
        LoopbackServer nginx;
        if (const QString why = nginx.startNginx(size, "limit_rate 1m;"); !why.isEmpty())
            QSKIP(qPrintable(why));
        QTemporaryDir saved;
        const QStringList paths{saved.filePath("f.bin"), saved.filePath("g.bin")};
        const QString list = saved.filePath(TaskListFile::FileName);
        const QString url = QString("http://127.0.0.1:%1/f.bin").arg(nginx.port);
        const QStringList args{"--download", url, paths[0], url + "?2", paths[1]};
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", saved.filePath("config"));
        child.setProcessEnvironment(env);
        QVERIFY(writeFile(saved.filePath("config/Zipvane/Zipvane.conf"), "connections=4\n"));
        int maps = 0;                          // kills that left a file in pieces
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
                const QByteArray got = readFile(paths[i]);
                const auto map = PieceMap::decode(readFile(PieceMap::controlPath(paths[i])));
                maps += map && map->ranges().size() > 1;
                for (const auto &[from, end] :
                     map ? map->ranges() : QList{PieceMap::Range(0, got.size())})
                    QVERIFY(got.mid(from, end - from) == nginx.served.mid(from, end - from));
                const TaskRecord task = TaskListFile::read(list).records.value(i);
                if (term)
                    QCOMPARE(task.GotSize, PieceMap::onDisk(paths[i], size).count);
                // Once bytes have come, the list knows the file; or, until the
                // list writer has caught up, the map does (the list, if it
                // knows anything yet, nothing else): its size, the server's
                // name for it and the task's URL.
                if (map)
                    QVERIFY(map->size() == size && !map->validator().isEmpty()
                            && map->url() == (i ? url + "?2" : url)
                            && (task.FilePath.isEmpty() || task.FilePath == paths[i])
                            && (task.FileSize == 0 || task.FileSize == size));
                else if (QFileInfo(paths[i]).size() > (1 << 20))
                    QCOMPARE(std::pair(task.FilePath, task.FileSize), std::pair(paths[i], size));
            }
        }
        QVERIFY(maps > 5);
        for (int i = 0; i < 2; ++i) {
            QVERIFY(readFile(paths[i]) == nginx.served);
            QCOMPARE(TaskListFile::read(list).records.value(i).GotSize, size);
        }
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    tst_CrashRestart test;
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
