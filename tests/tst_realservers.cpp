// Whole downloads from real servers on loopback: nginx directly, through
// tinyproxy with Basic credentials, and Python's http.server, which answers
// a Range request with the whole file. Files are compared by SHA-256.
#include "engine/downengine.h"
#include "support/downloadrun.h"
#include "support/fakehost.h"
#include "support/realservers.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

constexpr qint64 BigSize = 64 * 1024 * 1024;
constexpr qint64 MidSize = 8 * 1024 * 1024 + 123;

QByteArray sha256(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return hash.result().toHex();
}

bool writeRandomFile(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    for (qint64 left = size; left > 0;) {
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(block.data()),
                                              block.size() / 4);
        const qint64 n = qMin<qint64>(left, block.size());
        if (file.write(block.constData(), n) != n)
            return false;
        left -= n;
    }
    return true;
}

struct Fixture {
    Fixture() : engine(host) { host.engine = &engine; }
    QTemporaryDir dir;
    FakeHost host;
    DownEngine engine;
};

// Ends the session on slot 1 once `row` holds more than `bytes`, the way a
// user's action between two arrivals would.
void interruptAfter(Fixture &f, int row, qint64 bytes)
{
    auto fired = std::make_shared<bool>(false);
    f.host.afterArrival = [&f, row, bytes, fired] {
        if (*fired || f.host.tasks(row).GotSize <= bytes)
            return;
        *fired = true;
        QTimer::singleShot(0, &f.engine, [&f] { f.engine.CloseSocket(1, QStringLiteral("用户取消")); });
    };
}

} // namespace

class tst_RealServers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void nginxWholeFile();
    void nginxInterruptedThenResumed();
    void throughTinyproxy_data();
    void throughTinyproxy();
    void serverIgnoringRange();

private:
    QTemporaryDir root_;
    QString bigPath_, midPath_;
    QByteArray bigHash_, midHash_;
    NginxServer nginx_;
};

void tst_RealServers::initTestCase()
{
    QVERIFY(root_.isValid());
    bigPath_ = root_.filePath(QStringLiteral("big.bin"));
    midPath_ = root_.filePath(QStringLiteral("mid.bin"));
    QVERIFY(writeRandomFile(bigPath_, BigSize));
    QVERIFY(writeRandomFile(midPath_, MidSize));
    bigHash_ = sha256(bigPath_);
    midHash_ = sha256(midPath_);
    const QString problem = nginx_.start(root_.path());
    if (!problem.isEmpty())
        QSKIP(qPrintable(QStringLiteral("nginx cannot run here: ") + problem));
}

void tst_RealServers::nginxWholeFile()
{
    Fixture f;
    const QString url = QStringLiteral("http://127.0.0.1:%1/big.bin").arg(nginx_.port());
    const int row = f.host.addTask(url, f.dir.filePath(QStringLiteral("big.bin")));
    QVERIFY(runTask(f.engine, 1, row, 120000));
    QCOMPARE(f.host.states.value(row), QStringLiteral("ok"));
    QCOMPARE(f.host.tasks(row).FileSize, BigSize);
    QCOMPARE(f.host.tasks(row).GotSize, BigSize);
    QCOMPARE(f.host.text(row, 1), QString::number(BigSize));
    QCOMPARE(f.host.text(row, 2), QString::number(BigSize));
    QCOMPARE(sha256(f.host.tasks(row).FilePath), bigHash_);
    QCOMPARE(f.host.log.last(), url + QStringLiteral("的下载完成了"));
}

void tst_RealServers::nginxInterruptedThenResumed()
{
    Fixture f;
    const QString url = QStringLiteral("http://127.0.0.1:%1/big.bin").arg(nginx_.port());
    const QString target = f.dir.filePath(QStringLiteral("big.bin"));
    const int row = f.host.addTask(url, target);
    interruptAfter(f, row, 16 * 1024 * 1024);
    QVERIFY(runTask(f.engine, 1, row, 120000));
    const qint64 got = f.host.tasks(row).GotSize;
    QCOMPARE(f.host.states.value(row), QStringLiteral("stop"));
    QVERIFY(got > 16 * 1024 * 1024 && got < BigSize);
    QCOMPARE(QFileInfo(target).size(), got);

    f.host.afterArrival = nullptr;
    QVERIFY(runTask(f.engine, 1, row, 120000));
    QVERIFY(f.host.log.contains(url + QStringLiteral("开始从") + QString::number(got)
                                + QStringLiteral("断点续传下载")));
    QCOMPARE(f.host.states.value(row), QStringLiteral("ok"));
    QCOMPARE(f.host.tasks(row).GotSize, BigSize);
    QCOMPARE(f.host.tasks(row).FileSize, BigSize);
    QCOMPARE(sha256(target), bigHash_);
}

void tst_RealServers::throughTinyproxy_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("right credentials") << QStringLiteral("secret") << true;
    QTest::newRow("wrong credentials") << QStringLiteral("wrong") << false;
}

void tst_RealServers::throughTinyproxy()
{
    QFETCH(QString, password);
    QFETCH(bool, accepted);

    TinyproxyServer proxy;
    const QString problem = proxy.start(QStringLiteral("zvuser"), QStringLiteral("secret"));
    if (!problem.isEmpty())
        QSKIP(qPrintable(QStringLiteral("tinyproxy cannot run here: ") + problem));

    Fixture f;
    const QString url = QStringLiteral("http://127.0.0.1:%1/mid.bin").arg(nginx_.port());
    const QString target = f.dir.filePath(QStringLiteral("mid.bin"));
    const int row = f.host.addTask(url, target);
    TaskRecord &record = f.host.tasks(row);
    record.ProxyHost = QStringLiteral("127.0.0.1");
    record.ProxyPort = qint16(proxy.port());
    record.ProxyUser = QStringLiteral("zvuser");
    record.ProxyPass = password;
    QVERIFY(runTask(f.engine, 1, row, 60000));

    if (accepted) {
        QCOMPARE(f.host.states.value(row), QStringLiteral("ok"));
        QCOMPARE(sha256(target), midHash_);
        QCOMPARE(f.host.tasks(row).GotSize, MidSize);
    } else {
        QCOMPARE(f.host.log.last(), url + QStringLiteral("出错了"));
        QCOMPARE(f.host.states.value(row), QStringLiteral("stop"));
        QVERIFY(!QFile::exists(target));
        QCOMPARE(f.host.tasks(row).GotSize, qint64(0));
    }
}

void tst_RealServers::serverIgnoringRange()
{
    PythonHttpServer python;
    const QString problem = python.start(root_.path());
    if (!problem.isEmpty())
        QSKIP(qPrintable(QStringLiteral("python3 http.server cannot run here: ") + problem));

    Fixture f;
    const QString url = QStringLiteral("http://127.0.0.1:%1/mid.bin").arg(python.port());
    const QString target = f.dir.filePath(QStringLiteral("mid.bin"));
    const int row = f.host.addTask(url, target);
    interruptAfter(f, row, 1024 * 1024);
    QVERIFY(runTask(f.engine, 1, row, 60000));
    const qint64 got = f.host.tasks(row).GotSize;
    QVERIFY(got > 1024 * 1024 && got < MidSize);
    QCOMPARE(f.host.tasks(row).FileSize, MidSize);

    // The resume asks for a range; the whole file comes back and replaces
    // what was there.
    f.host.afterArrival = nullptr;
    f.host.log.clear();
    QVERIFY(runTask(f.engine, 1, row, 60000));
    QVERIFY(f.host.log.contains(url + QStringLiteral("开始下载")));
    QCOMPARE(f.host.states.value(row), QStringLiteral("ok"));
    QCOMPARE(f.host.tasks(row).GotSize, MidSize);
    QCOMPARE(QFileInfo(target).size(), MidSize);
    QCOMPARE(sha256(target), midHash_);
}

QTEST_GUILESS_MAIN(tst_RealServers)
#include "tst_realservers.moc"
