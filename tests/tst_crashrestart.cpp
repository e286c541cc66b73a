// A download killed with SIGKILL at random moments and started again, as
// after a crash: the file only ever holds a prefix of the source, and the
// last start completes it byte for byte. The download runs in a child, this
// program started again as "--download URL PATH SIZE".
#include "support/downloadrun.h"
#include "support/fakehost.h"
#include "support/realservers.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

namespace {

QByteArray readFile(const QString &path) { QFile file(path); return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(); }

// Resumes from what the file holds, as a restarted program does; 0 once complete.
int downloadInChild(const QStringList &args)
{
    EngineFixture f;
    const qint64 size = args[2].toLongLong(), onDisk = QFileInfo(args[1]).size();
    const int row = f.addTask(args[0], args[1], size, onDisk);
    if (isComplete(size, onDisk))
        return 0;
    return runTask(f.engine, 1, row, 120000) && isComplete(size, f.host.tasks(row).GotSize) ? 0 : 1;
}

} // namespace

class tst_CrashRestart : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void killedAndResumed()
    {
        QTemporaryDir served, saved;
        QByteArray source(8 << 20, '\0');
        QRandomGenerator(1).fillRange(reinterpret_cast<quint32 *>(source.data()), source.size() / 4);
        QFile file(served.filePath(QStringLiteral("f.bin")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(source) == source.size());
        file.close();
        LoopbackServer nginx;
        // Slowed down, so that a kill can land anywhere in the transfer.
        const QString why = startNginx(nginx, served.path(), QStringLiteral("limit_rate 2m;"));
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        const QStringList args{QStringLiteral("--download"), QStringLiteral("http://127.0.0.1:%1/f.bin").arg(nginx.port),
                               saved.filePath(QStringLiteral("f.bin")), QString::number(source.size())};
        QRandomGenerator random(2007);
        for (int run = 0; run < 20; ++run) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(), args);
            QVERIFY(child.waitForStarted());
            QTest::qWait(random.bounded(50, 250));
            child.kill();
            QVERIFY(child.waitForFinished());
            QVERIFY(source.startsWith(readFile(args[2])));
        }
        QVERIFY(QFileInfo(args[2]).size() > 0);
        QProcess last;
        last.start(QCoreApplication::applicationFilePath(), args);
        QVERIFY(last.waitForFinished(120000));
        QCOMPARE(last.exitCode(), 0);
        QVERIFY(readFile(args[2]) == source);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], "--download") == 0)
        return downloadInChild(app.arguments().mid(2));
    tst_CrashRestart test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_crashrestart.moc"
