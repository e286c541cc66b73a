// The program killed with SIGKILL or SIGTERM in turn at moments spread over a
// download and started again, as after a crash or a log-out: the file only
// ever holds a prefix of the source, the list the program wrote holds the
// task with its size once bytes have come (after SIGTERM, with its count
// equal to the file), and the last start completes it byte for byte. The
// program is this test started again as "--download URL PATH": the real
// window on the list beside PATH, which adds the URL once and starts it.
#include "support/fakehost.h"
#include "support/fakeseams.h"
#include "support/realservers.h"
#include "tasks/tasklistfile.h"
#include "widgets/tasklistview.h"
#include "window/frmdown.h"
#include "window/terminationsignals.h"

#include <QApplication>
#include <csignal>

class tst_CrashRestart : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void killedAndResumed()
    {
        LoopbackServer nginx;  // slowed down: the 20 kills come in the first 6 MiB or so
        if (const QString why = nginx.startNginx(8 << 20, "limit_rate 2m;"); !why.isEmpty())
            QSKIP(qPrintable(why));
        QTemporaryDir saved;
        const QString path = saved.filePath("f.bin");
        const QString list = saved.filePath(TaskListFile::FileName);
        const QStringList args{"--download", QString("http://127.0.0.1:%1/f.bin").arg(nginx.port),
                               path};
        QProcess child;
        for (int run = 0; run <= 20; ++run) {  // the last run is left to finish
            child.start(QCoreApplication::applicationFilePath(), args);
            const bool term = run % 2 == 1;
            if (!child.waitForFinished(run < 20 ? 150 + run * 20 : 120000)) {
                term ? void(::kill(pid_t(child.processId()), SIGTERM)) : child.kill();
                QVERIFY(child.waitForFinished());
                QCOMPARE(child.exitStatus(), term ? QProcess::NormalExit : QProcess::CrashExit);
            }
            QVERIFY(nginx.served.startsWith(readFile(path)));
            const TaskRecord task = TaskListFile::read(list).records.value(0);
            if (term)
                QCOMPARE(task.GotSize, QFileInfo(path).size());
            if (QFileInfo(path).size() > (1 << 20))
                QCOMPARE(std::pair(task.FilePath, task.FileSize), std::pair(path, 8ll << 20));
        }
        QVERIFY(readFile(path) == nginx.served);
        QCOMPARE(TaskListFile::read(list).records.value(0).GotSize, 8 << 20);
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    tst_CrashRestart test;
    if (argc < 4 || qstrcmp(argv[1], "--download") != 0)
        return QTest::qExec(&test, argc, argv);
    auto seams = std::make_shared<FakeSeamsState>();
    seams->savePath = QString(argv[3]);
    Seams childSeams = fakeSeams(seams);
    childSeams.endProgram = Seams::real().endProgram;
    frmDown w(childSeams, QFileInfo(argv[3]).path());
    closeOnTerminationSignals(w);
    if (w.rowCount() == 0)
        w.AddNewUrl(argv[2]);
    w.ui().LView->setCurrentItem(w.ui().LView->topLevelItem(0));
    w.LView_DblClick();
    return QTest::qWaitFor([&] { return w.rowState(1) == "ok"; }, 120000) ? 0 : 1;
}

#include "tst_crashrestart.moc"
