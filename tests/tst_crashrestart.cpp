// A download killed with SIGKILL at moments spread over its transfer and
// started again, as after a crash: the file only ever holds a prefix of the
// source, and the last start completes it byte for byte. The download runs in
// a child, this program started again as "--download URL PATH", which
// resumes from what the file holds, as a restarted program does.
#include "support/fakehost.h"
#include "support/realservers.h"

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
        const QStringList args{"--download", QString("http://127.0.0.1:%1/f.bin").arg(nginx.port),
                               path};
        QProcess child;
        for (int run = 0; run <= 20; ++run) {  // the last run is left to finish
            child.start(QCoreApplication::applicationFilePath(), args);
            if (!child.waitForFinished(run < 20 ? 50 + run * 10 : 120000))
                child.kill(), child.waitForFinished();
            QVERIFY(nginx.served.startsWith(readFile(path)));
        }
        QVERIFY(readFile(path) == nginx.served);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    tst_CrashRestart test;
    if (argc < 4 || qstrcmp(argv[1], "--download") != 0)
        return QTest::qExec(&test, argc, argv);
    EngineFixture f;  // resumes from what the file holds
    const int row = f.addTask(argv[2], argv[3], 0, QFileInfo(argv[3]).size());
    return f.start(row) && f.waitEnded(120000) ? 0 : 1;
}

#include "tst_crashrestart.moc"
