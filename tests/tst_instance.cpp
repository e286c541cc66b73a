// The real program, copied into a folder of its own so its list is kept
// there: one program per list, URLs handed from a later start and what it
// says of each, what the local socket lets in, a socket or folder of another
// user, a stale lock taken over, SIGTERM writing the list.
#include "support/fakehost.h"
#include "tasks/settings.h"
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

// Bytes a browser writes to the native host, the answers it reads back,
// the URLs that joined the list, how the host ends, and the name the last
// new task saves under (in the download folder, without asking).
struct Frames {
    QByteArray in;
    QStringList answers, added;
    int exitCode = 0;
    QString name = {};
};
Q_DECLARE_METATYPE(Frames)

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

// A browser's message: the length in the machine's order, then the bytes.
QByteArray framed(const QByteArray &json)
{
    const quint32 n = quint32(json.size());
    return QByteArray(reinterpret_cast<const char *>(&n), 4) + json;
}

// The answers in the host's output, each as its JSON text.
QStringList answersIn(QByteArray out)
{
    QStringList answers;
    while (out.size() >= 4) {
        quint32 n = 0;
        memcpy(&n, out.constData(), 4);
        answers << QString::fromUtf8(out.mid(4, n));
        out.remove(0, 4 + qsizetype(n));
    }
    return answers;
}

const QString Ok = "{\"ok\":true}";
QString refusal(const QString &why)
{
    return "{\"error\":\"" + why + "\",\"ok\":false}";
}

// A link whose download fails at once, on loopback: nothing leaves the machine.
const QString Link = "http://127.0.0.1:9/";

}  // namespace

class TestInstance : public QObject {
    Q_OBJECT

    const QString systemTemp_ = QDir::tempPath();  // before the test sets its own
    QTemporaryDir dir_;
    QString list_;
    QProcess first_;

    QStringList listed() const { return listedUrls(list_); }
    void start(QProcess &p, const QStringList &urls) { p.start(dir_.filePath("zipvane"), urls); }
    // The native host beside the program in `folder`, given `in` and its end.
    static std::pair<QStringList, int> host(const QString &folder, const QByteArray &in)
    {
        QProcess p;
        p.start(QDir(folder).filePath("zipvane-native-host"), {"chrome-extension://x/"});
        p.write(in), p.closeWriteChannel();
        if (!p.waitForFinished(20000))
            return {{"no end"}, -1};
        return {answersIn(p.readAllStandardOutput()), p.exitCode()};
    }
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
        QVERIFY(QFile::copy(ZV_HOST, dir_.filePath("zipvane-native-host")));
        // Links from the browser start at once: into a folder of the test's, unasked.
        QVERIFY(writeFile(Settings::path(), "[General]\naskWhereToSave=false\ndownloadFolder="
                                                + dir_.filePath("downloads").toUtf8() + "\n"));
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
        QTest::newRow("a later program's") << Peer{"ZIPVANE-URLS 4\nurl http://h/5\n\n", ""};
        // A link from the browser, with what it needs; a field this program
        // does not know, or one before the URL, refuses it whole.
        const QByteArray browser = "ZIPVANE-URLS 3\n";
        QTest::newRow("unknown field")
            << Peer{browser + "url " + Link.toUtf8() + "e\nsize 5\n\n", ""};
        QTest::newRow("field before the URL")
            << Peer{browser + "cookies a=1\nurl " + Link.toUtf8() + "e\n\n", ""};
        QTest::newRow("from the browser") << Peer{
            browser + "url " + Link.toUtf8() + "e\ncookies a=1\nfilename e.zip\nurl h/7\n\n",
            "ZIPVANE-ANSWER 2\nadded\nunusable\n\n"};
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

    // What the native host makes of a browser's bytes, with the program running.
    void nativeHost_data()
    {
        QTest::addColumn<Frames>("f");
        const QByteArray link = "{\"url\":\"" + Link.toUtf8()
                                + "a\",\"referrer\":\"http://127.0.0.1/p\","
                                  "\"cookies\":\"a=1\",\"userAgent\":\"UA/1\",\"filename\":\"../"
                                  "报告 a.zip\",\"size\":5,"
                                  "\"more\":{\"x\":[1]}}";
        QTest::newRow("a link, unknown fields passed over, then again")
            << Frames{framed(link) + framed(link),
                      {Ok, refusal("该URL已经在下载队列中了")},
                      {Link + "a"},
                      0,
                      "_报告 a.zip"};
        // The largest message taken: 1 MiB, most of it a field nobody reads.
        QByteArray mib = "{\"url\":\"" + Link.toUtf8() + "b\",\"pad\":\"";
        mib += QByteArray((1 << 20) - mib.size() - 2, 'x') + "\"}";
        QTest::newRow("1 MiB") << Frames{framed(mib), {Ok}, {Link + "b"}, 0, "b"};
        QTest::newRow("1 MiB and a byte")
            << Frames{framed(mib.insert(5, ' ')), {refusal("消息超过1 MiB")}, {}, 1};
        QTest::newRow("short length") << Frames{"\x05\x00", {refusal("消息不完整")}, {}, 1};
        QTest::newRow("short message")
            << Frames{framed(link).chopped(1), {refusal("消息不完整")}, {}, 1};
        QTest::newRow("refused, and the next taken") << Frames{
            framed("not json") + framed("[\"url\"]") + framed("{\"url\":\"file:///etc/passwd\"}")
                + framed("{\"referrer\":\"http://h/\"}") + framed("{\"url\":5}")
                + framed("{\"url\":\"http://h/\",\"cookies\":\"a=1\\r\\nX: y\"}")
                + framed("{\"url\":\"" + Link.toUtf8() + "c\"}"),
            {refusal("消息不是JSON对象"), refusal("消息不是JSON对象"),
             refusal("无法识别的URL地址"), refusal("消息中没有URL地址"),
             refusal("消息中的字段不是字符串：url"), refusal("消息中的字段含有控制字符：cookies"),
             Ok},
            {Link + "c"}};
    }
    void nativeHost()
    {
        QFETCH(Frames, f);
        const QStringList before = listed();
        QCOMPARE(host(dir_.path(), f.in), std::pair(f.answers, f.exitCode));
        QTRY_COMPARE(listed(), before + f.added);
        QCOMPARE(first_.state(), QProcess::Running);
        // Started at once, so it has its path: the browser's name made safe.
        if (!f.name.isEmpty())
            QTRY_COMPARE(TaskListFile::read(list_).records.last().FilePath,
                         dir_.filePath("downloads/" + f.name));
    }

    // With no program running, the host starts one (detached) and hands the link to it.
    void nativeHostStartsProgram()
    {
        QTemporaryDir other;
        QVERIFY(QFile::copy(ZV_PROGRAM, other.filePath("zipvane"))
                && QFile::copy(ZV_HOST, other.filePath("zipvane-native-host")));
        QCOMPARE(host(other.path(), framed("{\"url\":\"" + Link.toUtf8() + "d\"}")),
                 std::pair(QStringList{Ok}, 0));
        const QString list = other.filePath(TaskListFile::FileName);
        QLockFile lock(list + ".lock");
        qint64 pid = 0;
        QString hostName, app;
        QVERIFY(lock.getLockInfo(&pid, &hostName, &app) && pid > 0);
        ::kill(pid_t(pid), SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(list + ".lock"), 10000);
        QCOMPARE(TaskListFile::read(list).records.value(0).Url, Link + "d");
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
