// The real program, copied into a folder of its own so its list is kept
// there: one program per list, URLs handed from a later start and what it
// says of each, what the local socket lets in, a socket or folder of another
// user, a stale lock taken over, SIGTERM writing the list.
#include "support/fakehost.h"
#include "tasks/tasklistfile.h"
#include "tasks/urlmessage.h"
#include "window/singleinstance.h"

#include <QLocalSocket>
#include <QLockFile>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

// Bytes sent on the first program's socket, and what comes back before it
// closes: an answer only for a whole, well-formed message.
struct Peer {
    QByteArray sent, answer;
};
Q_DECLARE_METATYPE(Peer)

namespace {

const QString Squatter = "the running program's socket belongs to another user; nothing was sent";

// A process of user 65534 that listens at `socketPath` and writes all it
// receives to `record`. With `ownFolder` it makes the socket's folder itself
// first; otherwise it binds as root in our folder and becomes 65534 before it
// listens, so only the kernel's word on the peer tells it apart.
pid_t squat(const QByteArray &socketPath, bool ownFolder, int record)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    alarm(30);
    const auto become = [] { return setgid(65534) == 0 && setuid(65534) == 0; };
    if (ownFolder && (!become() || mkdir(QFileInfo(socketPath).path().toLocal8Bit(), 0700) != 0))
        _exit(1);
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, socketPath.constData(), sizeof address.sun_path);
    if (bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || (!ownFolder && !become()) || ::listen(s, 8) != 0)
        _exit(1);
    for (;;) {
        const int peer = accept(s, nullptr, nullptr);
        char bytes[4096];
        for (ssize_t n; (n = read(peer, bytes, sizeof bytes)) > 0;)
            (void)!write(record, bytes, size_t(n));
        close(peer);
    }
}

}  // namespace

class TestInstance : public QObject {
    Q_OBJECT

    const QString systemTemp_ = QDir::tempPath();  // before the test sets its own
    QTemporaryDir dir_;
    QString list_;
    QProcess first_;

    QStringList listed() const
    {
        QStringList urls;
        for (const TaskRecord &r : TaskListFile::read(list_).records)
            urls << r.Url;
        return urls;
    }
    void start(QProcess &p, const QStringList &urls) { p.start(dir_.filePath("zipvane"), urls); }
    static QStringList lines(const QByteArray &bytes)
    {
        return QString::fromUtf8(bytes).split('\n', Qt::SkipEmptyParts).filter("zipvane: ");
    }

private Q_SLOTS:
    void initTestCase()
    {
        // The socket's folder, made by the program, is this test's own.
        qunsetenv("XDG_RUNTIME_DIR");
        QVERIFY(QDir(dir_.path()).mkdir("tmp"));
        qputenv("TMPDIR", dir_.filePath("tmp").toLocal8Bit());
        QVERIFY(QFile::copy(ZV_PROGRAM, dir_.filePath("zipvane")));
        list_ = dir_.filePath(TaskListFile::FileName);
        start(first_, {"http://h/1"});
        QTRY_COMPARE_WITH_TIMEOUT(listed(), QStringList{"http://h/1"}, 10000);
    }

    void laterStartHandsOver_data()
    {
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("refused");
        const QString chinese = "https://h/下载/文件 1.zip";
        QTest::newRow("all added") << QStringList{"http://h/2", chinese}
                                   << QStringList{"http://h/2", chinese} << QStringList{};
        QTest::newRow("a mix")
            << QStringList{"http://h/3",       "http://h/1", "ftp://h/x",  "http://h/a\r\nX: y",
                           "http://h/\tb\x7f", chinese,      "http://h/4", ""}
            << QStringList{"http://h/3", "http://h/4"}
            << QStringList{"zipvane: refused: http://h/1: 该URL已经在下载队列中了",
                           "zipvane: refused: ftp://h/x: 无法识别的URL地址",
                           "zipvane: refused: http://h/a%0D%0AX: y: 无法识别的URL地址",
                           "zipvane: refused: http://h/%09b%7F: 无法识别的URL地址",
                           "zipvane: refused: " + chinese + ": 该URL已经在下载队列中了",
                           "zipvane: refused: : 无法识别的URL地址"};
        QTest::newRow("only to be seen") << QStringList{} << QStringList{} << QStringList{};
    }
    void laterStartHandsOver()
    {
        QFETCH(QStringList, urls);
        QFETCH(QStringList, added);
        QFETCH(QStringList, refused);
        const QStringList before = listed();
        QProcess later;
        start(later, urls);
        QVERIFY(later.waitForFinished(10000));
        QCOMPARE(std::pair(lines(later.readAllStandardError()), later.exitCode()),
                 std::pair(refused, refused.isEmpty() ? 0 : 1));
        QTRY_COMPARE(listed(), before + added);
    }

    void socket_data()
    {
        QTest::addColumn<Peer>("p");
        const QByteArray head = "ZIPVANE-URLS 2\n";
        QTest::newRow("too large") << Peer{head + QByteArray(300 << 10, 'a') + "\n\n", ""};
        QTest::newRow("bytes after the end") << Peer{head + "http://h/5\n\nx", ""};
        QTest::newRow("control character") << Peer{head + "http://h/\x01\n\n", ""};
        QTest::newRow("not UTF-8") << Peer{head + "http://h/\xff\n\n", ""};
        QTest::newRow("an older program's") << Peer{"ZIPVANE-URLS 1\nhttp://h/5\n\n", ""};
        QTest::newRow("well formed") << Peer{head + "http://h/5\nhttp://h/5\nh/6\n\n",
                                             "ZIPVANE-ANSWER 2\nadded\nlisted\nunusable\n\n"};
    }
    void socket()
    {
        QFETCH(Peer, p);
        const int before = listed().size();
        QLocalSocket peer;
        peer.connectToServer(SingleInstance::socketPath(list_));
        QVERIFY(peer.waitForConnected(5000) && peer.write(p.sent) == p.sent.size());
        QVERIFY(peer.waitForDisconnected(10000));
        QCOMPARE(peer.readAll(), p.answer);
        QCOMPARE(first_.state(), QProcess::Running);
        QTRY_COMPARE(listed().size(), before + int(!p.answer.isEmpty()));
    }

    // Another user who took the socket's name, or its folder, first is sent
    // nothing at all, and the program that cannot listen says why.
    void anotherUsersSocket_data()
    {
        QTest::addColumn<bool>("ownFolder");
        QTest::newRow("the socket") << false;
        QTest::newRow("the folder") << true;
    }
    void anotherUsersSocket()
    {
        QFETCH(bool, ownFolder);
        if (geteuid() != 0)
            QSKIP("needs root, to run a process as another user (uid 65534)");
        QTemporaryDir here(systemTemp_ + "/tst_instance-XXXXXX");  // one 65534 can enter
        const QString tmp = here.filePath("tmp");
        QVERIFY(chmod(QFile::encodeName(here.path()), 0701) == 0 && QDir().mkdir(tmp)
                && chmod(QFile::encodeName(tmp), 01777) == 0);
        const QString folder = tmp + "/zipvane-" + QString::number(getuid());
        QVERIFY(ownFolder || mkdir(QFile::encodeName(folder), 0700) == 0);
        QVERIFY(QFile::copy(ZV_PROGRAM, here.filePath("zipvane")));
        const QString list = here.filePath(TaskListFile::FileName);
        QLockFile held(list + ".lock");  // as a running program holds it
        QVERIFY(held.tryLock(0));

        // The socket's name in `folder`: named after the list alone.
        const QString name = folder + "/" + QFileInfo(SingleInstance::socketPath(list)).fileName();
        const QByteArray saveTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(tmp));

        QFile record(here.filePath("received"));  // what the squatter is sent
        QVERIFY(record.open(QIODevice::ReadWrite));
        const pid_t squatter = squat(QFile::encodeName(name), ownFolder, record.handle());
        QTRY_VERIFY(QFileInfo::exists(name));

        QProcess later;
        later.start(here.filePath("zipvane"), {"http://h/token"});
        QVERIFY(later.waitForFinished(10000));
        const QByteArray stderrText = later.readAllStandardError();

        QString problem;
        if (ownFolder) {
            SingleInstance owner(here.filePath("other.zvt"));
            QList<UrlMessage::Outcome> unused;
            QCOMPARE(owner.claim({}, unused), SingleInstance::Claim::Owner);
            problem = owner.listenProblem();
        }
        qputenv("TMPDIR", saveTmp);
        ::kill(squatter, SIGKILL);
        waitpid(squatter, nullptr, 0);

        QCOMPARE(record.readAll(), QByteArray());
        QCOMPARE(std::pair(lines(stderrText), later.exitCode()),
                 std::pair(QStringList{"zipvane: " + Squatter}, 1));
        QCOMPARE(problem, ownFolder ? "文件夹属于另一个用户：" + folder : "");
    }

    void staleLockTakenOver()
    {
        first_.kill(), first_.waitForFinished();
        QProcess third;
        start(third, {"http://h/6", "http://h/1"});
        QTRY_COMPARE_WITH_TIMEOUT(listed().last(), "http://h/6", 10000);
        QCOMPARE(third.state(), QProcess::Running);
        ::kill(pid_t(third.processId()), SIGTERM);  // closed as 退出 closes it
        QVERIFY(third.waitForFinished(10000));
        QCOMPARE(std::pair(third.exitStatus(), third.exitCode()),
                 std::pair(QProcess::NormalExit, 0));
        QCOMPARE(lines(third.readAllStandardError()),
                 QStringList{"zipvane: refused: http://h/1: 该URL已经在下载队列中了"});
        QVERIFY(!QFile::exists(list_ + ".lock"));
    }
};

QTEST_GUILESS_MAIN(TestInstance)
#include "tst_instance.moc"
