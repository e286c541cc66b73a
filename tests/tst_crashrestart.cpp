// A download killed with SIGKILL at random moments and started again, as
// after a crash: the file only ever holds a prefix of the source, and the
// last start completes it byte for byte. The download runs in a child, this
// program started again as "--download URL PATH SIZE", which resumes from
// what the file holds, as a restarted program does.
#include "support/fakehost.h"
#include "support/realservers.h"

class tst_CrashRestart : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void killedAndResumed()
    {
        QTemporaryDir served, saved;
        QByteArray source(8 << 20, '\0');
        QRandomGenerator(1).fillRange(reinterpret_cast<quint32 *>(source.data()), 2 << 20);
        QFile file(served.filePath("f.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(source) == source.size());
        file.close();
        LoopbackServer nginx;  // slowed down, so that a kill can land anywhere in the transfer
        if (const QString why = nginx.startNginx(served.path(), "limit_rate 2m;"); !why.isEmpty())
            QSKIP(qPrintable(why));
        const QString path = saved.filePath("f.bin");
        const QStringList args{"--download", QString("http://127.0.0.1:%1/f.bin").arg(nginx.port),
                               path, QString::number(source.size())};
        QRandomGenerator random(2007);
        for (int run = 0; run < 20; ++run) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(), args);
            QVERIFY(child.waitForStarted());
            QTest::qWait(random.bounded(50, 250));
            child.kill();
            QVERIFY(child.waitForFinished());
            QVERIFY(source.startsWith(readFile(path)));
        }
        QVERIFY(QFileInfo(path).size() > 0);
        QProcess last;
        last.start(QCoreApplication::applicationFilePath(), args);
        QVERIFY(last.waitForFinished(120000) && last.exitCode() == 0);
        QVERIFY(readFile(path) == source);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    tst_CrashRestart test;
    if (argc < 5 || qstrcmp(argv[1], "--download") != 0)
        return QTest::qExec(&test, argc, argv);
    EngineFixture f;
    const qint64 size = app.arguments()[4].toLongLong(), onDisk = QFileInfo(argv[3]).size();
    const int row = f.addTask(argv[2], argv[3], size, onDisk);
    const auto complete = [&] { return isComplete(size, f.task(row).GotSize); };
    return complete() || (f.run(row, 120000) && complete()) ? 0 : 1;
}

#include "tst_crashrestart.moc"
