// The task list file: the 334-byte record layout, reading it back with the
// downloaded counts taken from the partial files, and writing it safely.
#include "app/gbktext.h"
#include "app/tasklistfile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <unistd.h>

Q_DECLARE_METATYPE(TaskRecord)

namespace {

// Expected bytes at given offsets of an encoded record.
using Spots = QList<std::pair<int, QByteArray>>;

TaskRecord task(const QString &url, qint64 fileSize = 0, qint64 gotSize = 0,
                const QString &filePath = QString())
{
    TaskRecord r;
    r.Url = url;
    r.FileSize = fileSize;
    r.GotSize = gotSize;
    r.FilePath = filePath;
    return r;
}

TaskRecord withProxy()
{
    TaskRecord r = task(QString::fromUtf8("http://例子.cn/下载/文件.zip"), 123456, 7890,
                        QString::fromUtf8("/tmp/文件.zip"));
    r.Reserved = 0x1234;
    r.UseProxy = -1;
    r.ProxyHost = QStringLiteral("proxy.local");
    r.ProxyPort = 8080;
    r.ProxyUser = QString::fromUtf8("用户");
    r.ProxyPass = QString::fromUtf8("密码 x");
    return r;
}

QByteArray le32(qint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

QByteArray field(const char *gbkOrAscii, int width)
{
    QByteArray b(gbkOrAscii);
    return b + QByteArray(width - b.size(), ' ');
}

QByteArray fileBytes(const QVector<TaskRecord> &records)
{
    QByteArray all;
    for (const TaskRecord &r : records)
        all += TaskListFile::encodeRecord(r);
    return all;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void compareRecords(const TaskRecord &a, const TaskRecord &b)
{
    QCOMPARE(a.Reserved, b.Reserved);
    QCOMPARE(a.Url, b.Url);
    QCOMPARE(a.FilePath, b.FilePath);
    QCOMPARE(a.FileSize, b.FileSize);
    QCOMPARE(a.GotSize, b.GotSize);
    QCOMPARE(a.UseProxy, b.UseProxy);
    QCOMPARE(a.ProxyHost, b.ProxyHost);
    QCOMPARE(a.ProxyPort, b.ProxyPort);
    QCOMPARE(a.ProxyUser, b.ProxyUser);
    QCOMPARE(a.ProxyPass, b.ProxyPass);
}

} // namespace

Q_DECLARE_METATYPE(Spots)

class TestTaskListFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void codec_data();
    void codec();
    void read_data();
    void read();
    void gotSizeAtRead_data();
    void gotSizeAtRead();
    void write_data();
    void write();
    void failures_data();
    void failures();
};

void TestTaskListFile::codec_data()
{
    QTest::addColumn<TaskRecord>("record");
    QTest::addColumn<TaskRecord>("decoded");
    QTest::addColumn<Spots>("spots");

    TaskRecord plain = task(QStringLiteral("http://h/f.zip"), 1000, 400);
    QTest::newRow("no proxy: blank fields, zero numbers")
        << plain << plain
        << Spots{{0, QByteArray(2, '\0')},
                 {2, field("http://h/f.zip", 180)},
                 {182, QByteArray(50, ' ')},
                 {232, QByteArray::fromHex("e8030000")},
                 {236, QByteArray::fromHex("90010000")},
                 {240, QByteArray(2, '\0')},
                 {242, QByteArray(50, ' ')},
                 {292, QByteArray(2, '\0')},
                 {294, QByteArray(40, ' ')}};

    const TaskRecord proxy = withProxy();
    QTest::newRow("proxy, GBK text")
        << proxy << proxy
        << Spots{{0, QByteArray::fromHex("3412")},
                 {182, field("/tmp/\xce\xc4\xbc\xfe.zip", 50)},
                 {232, QByteArray::fromHex("40e20100")},
                 {240, QByteArray::fromHex("ffff")},
                 {242, field("proxy.local", 50)},
                 {292, QByteArray::fromHex("901f")},
                 {294, field("\xd3\xc3\xbb\xa7", 20)},
                 {314, field("\xc3\xdc\xc2\xeb x", 20)}};

    // Blanks around a text do not survive a field: they are the filler.
    TaskRecord blanks = task(QStringLiteral("  http://h/f  "));
    QTest::newRow("blanks trimmed") << blanks << task(QStringLiteral("http://h/f"))
                                    << Spots{{2, field("  http://h/f", 180)}};

    // 200 ASCII characters keep their first 180.
    const QString longUrl = QStringLiteral("http://h/") + QString(191, QLatin1Char('a'));
    QTest::newRow("long URL cut") << task(longUrl) << task(longUrl.left(180))
                                  << Spots{{2, longUrl.left(180).toLatin1()}};

    // "a" and then two-byte characters: 1 + 2 × 89 = 179 bytes; the 90th
    // character would need bytes 180 and 181, so it is left out whole.
    const QString chinese = QStringLiteral("a") + QString(100, QChar(0x4E0B));   // 下
    QByteArray cut = "a";
    for (int i = 0; i < 89; ++i)
        cut += "\xcf\xc2";
    QTest::newRow("cut on a whole GBK character")
        << task(chinese) << task(chinese.left(90)) << Spots{{2, cut + ' '}, {182, " "}};

    TaskRecord path = task(QStringLiteral("http://h/f"), 10, 1,
                           QStringLiteral("/") + QString(60, QLatin1Char('p')));
    TaskRecord pathCut = path;
    pathCut.FilePath = path.FilePath.left(50);
    QTest::newRow("long path cut") << path << pathCut << Spots{{232, le32(10)}, {236, le32(1)}};

    // Sizes wider than the file's 32 bits are clamped, not wrapped around.
    TaskRecord huge = task(QStringLiteral("http://h/iso"), qint64(3000000000), qint64(5) << 32);
    QTest::newRow("sizes clamped")
        << huge << task(QStringLiteral("http://h/iso"), 2147483647, 2147483647)
        << Spots{{232, QByteArray::fromHex("ffffff7f")}, {236, QByteArray::fromHex("ffffff7f")}};
    TaskRecord negative = task(QStringLiteral("http://h/n"), -1, -(qint64(1) << 40));
    QTest::newRow("negative sizes clamped")
        << negative << task(QStringLiteral("http://h/n"), -1, -2147483647 - 1)
        << Spots{{232, QByteArray::fromHex("ffffffff")}, {236, QByteArray::fromHex("00000080")}};
}

void TestTaskListFile::codec()
{
    QFETCH(TaskRecord, record);
    QFETCH(TaskRecord, decoded);
    QFETCH(Spots, spots);

    const QByteArray bytes = TaskListFile::encodeRecord(record);
    QCOMPARE(bytes.size(), TaskListFile::RecordSize);
    for (const auto &[offset, expected] : spots)
        QCOMPARE(bytes.mid(offset, expected.size()).toHex(' '), expected.toHex(' '));

    const TaskRecord back = TaskListFile::decodeRecord(bytes.constData());
    compareRecords(back, decoded);
    // What was read is written back byte for byte.
    QCOMPARE(TaskListFile::encodeRecord(back), TaskListFile::encodeRecord(decoded));
    if (decoded.Url == record.Url)
        QCOMPARE(TaskListFile::encodeRecord(back).toHex(' '), bytes.toHex(' '));
}

void TestTaskListFile::read_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QVector<TaskRecord>>("expected");

    const TaskRecord a = task(QStringLiteral("http://h/a"));
    TaskRecord b = withProxy();
    b.GotSize = b.FileSize;   // finished: its local file is not looked at

    QTest::newRow("empty") << QByteArray() << QVector<TaskRecord>{};
    QTest::newRow("668 bytes") << fileBytes({a, b}) << QVector<TaskRecord>{a, b};
    QTest::newRow("700 bytes: incomplete record ignored")
        << fileBytes({a, b}) + QByteArray(32, 'x') << QVector<TaskRecord>{a, b};
    QTest::newRow("less than one record") << QByteArray(333, 'x') << QVector<TaskRecord>{};

    TaskRecord blank = withProxy();
    blank.Url.clear();
    QTest::newRow("blank URL skipped") << fileBytes({a, blank, b}) << QVector<TaskRecord>{a, b};
    QTest::newRow("all-blank record skipped")
        << QByteArray(334, ' ') + fileBytes({a}) << QVector<TaskRecord>{a};
}

void TestTaskListFile::read()
{
    QFETCH(QByteArray, contents);
    QFETCH(QVector<TaskRecord>, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(TaskListFile::FileName);
    QVERIFY(writeFile(path, contents));

    const TaskListFile::ReadResult result = TaskListFile::read(path);
    QVERIFY(result.ok);
    QCOMPARE(result.records.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        compareRecords(result.records[i], expected[i]);

    // Written back, the list is whole records only.
    QVERIFY(TaskListFile::write(path, result.records));
    QCOMPARE(readFile(path), fileBytes(expected));
}

void TestTaskListFile::gotSizeAtRead_data()
{
    QTest::addColumn<qint64>("fileSize");
    QTest::addColumn<qint64>("storedGot");
    QTest::addColumn<int>("localBytes");   // -1: no local file; -2: no path at all
    QTest::addColumn<qint64>("expectedGot");

    QTest::newRow("unfinished: file is longer") << qint64(1000) << qint64(400) << 650 << qint64(650);
    QTest::newRow("unfinished: file is shorter") << qint64(1000) << qint64(400) << 100 << qint64(100);
    QTest::newRow("unfinished: file gone") << qint64(1000) << qint64(400) << -1 << qint64(0);
    QTest::newRow("unfinished: no path") << qint64(1000) << qint64(400) << -2 << qint64(0);
    QTest::newRow("size unknown keeps its count") << qint64(0) << qint64(5000) << 10 << qint64(5000);
    QTest::newRow("one byte short is finished") << qint64(1000) << qint64(999) << -1 << qint64(999);
    QTest::newRow("finished") << qint64(1000) << qint64(1000) << 3 << qint64(1000);
    QTest::newRow("two bytes short is unfinished") << qint64(1000) << qint64(998) << 998
                                                   << qint64(998);
}

void TestTaskListFile::gotSizeAtRead()
{
    QFETCH(qint64, fileSize);
    QFETCH(qint64, storedGot);
    QFETCH(int, localBytes);
    QFETCH(qint64, expectedGot);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString local = localBytes == -2 ? QString() : dir.filePath(QStringLiteral("part.zip"));
    if (localBytes >= 0)
        QVERIFY(writeFile(local, QByteArray(localBytes, 'd')));

    const QString path = dir.filePath(TaskListFile::FileName);
    QVERIFY(writeFile(path, fileBytes({task(QStringLiteral("http://h/part.zip"), fileSize,
                                            storedGot, local)})));
    const TaskListFile::ReadResult result = TaskListFile::read(path);
    QVERIFY(result.ok);
    QCOMPARE(result.records.size(), 1);
    QCOMPARE(result.records[0].FileSize, fileSize);
    QCOMPARE(result.records[0].GotSize, expectedGot);
}

void TestTaskListFile::write_data()
{
    QTest::addColumn<bool>("hadFile");
    QTest::addColumn<int>("abandonAt");   // -1: the write runs to its end

    QTest::newRow("new file") << false << -1;
    QTest::newRow("over an old file") << true << -1;
    QTest::newRow("abandoned at the first record") << true << 0;
    QTest::newRow("abandoned midway") << true << 2;
    QTest::newRow("new file abandoned") << false << 1;
}

void TestTaskListFile::write()
{
    QFETCH(bool, hadFile);
    QFETCH(int, abandonAt);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(TaskListFile::FileName);
    const QByteArray old = fileBytes({task(QStringLiteral("http://old/1")),
                                      task(QStringLiteral("http://old/2"))});
    if (hadFile)
        QVERIFY(writeFile(path, old));

    // Finished or of unknown size, so reading them back looks at no local file.
    TaskRecord finished = withProxy();
    finished.GotSize = finished.FileSize - 1;
    const QVector<TaskRecord> records{finished, task(QStringLiteral("http://h/a"), 5, 5),
                                      task(QStringLiteral("http://h/b"), 0, 77)};
    QString error;
    const bool ok = TaskListFile::write(path, records, &error,
                                        [abandonAt](int i) { return i != abandonAt; });
    if (abandonAt >= 0) {
        // The previous list stays whole, or there is still none.
        QVERIFY(!ok);
        QVERIFY(!error.isEmpty());
        QCOMPARE(QFile::exists(path), hadFile);
        if (hadFile)
            QCOMPARE(readFile(path), old);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), hadFile ? QStringList{TaskListFile::FileName}
                                                                  : QStringList{});
        return;
    }
    QVERIFY2(ok, qPrintable(error));
    QCOMPARE(readFile(path), fileBytes(records));
    if (!hadFile) {
        // It holds proxy passwords: readable by its owner only.
        QCOMPARE(QFile::permissions(path) & 0x0777,
                 QFileDevice::ReadUser | QFileDevice::WriteUser);
    }

    const TaskListFile::ReadResult back = TaskListFile::read(path);
    QVERIFY(back.ok);
    QCOMPARE(back.records.size(), records.size());
    for (int i = 0; i < records.size(); ++i)
        compareRecords(back.records[i], records[i]);
    QVERIFY(TaskListFile::write(path, back.records));
    QCOMPARE(readFile(path), fileBytes(records));
}

void TestTaskListFile::failures_data()
{
    QTest::addColumn<QString>("kind");

    QTest::newRow("missing file is created empty") << "missing";
    QTest::newRow("folder in place of the file") << "folder";
    QTest::newRow("file without read permission") << "unreadable";
    QTest::newRow("write into a missing folder") << "no folder";
}

void TestTaskListFile::failures()
{
    QFETCH(QString, kind);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(TaskListFile::FileName);
    const QVector<TaskRecord> records{task(QStringLiteral("http://h/a"))};

    if (kind == QLatin1String("missing")) {
        const TaskListFile::ReadResult result = TaskListFile::read(path);
        QVERIFY(result.ok);
        QVERIFY(result.records.isEmpty());
        QVERIFY(QFile::exists(path));
        QCOMPARE(QFileInfo(path).size(), 0);
        QCOMPARE(QFile::permissions(path) & 0x0777,
                 QFileDevice::ReadUser | QFileDevice::WriteUser);
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir(dir.path()).mkdir(TaskListFile::FileName));
        QVERIFY(!TaskListFile::read(path).ok);
        QString error;
        QVERIFY(!TaskListFile::write(path, records, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(QFileInfo(path).isDir());
    } else if (kind == QLatin1String("unreadable")) {
        if (geteuid() == 0)
            QSKIP("root reads any file whatever its permissions");
        QVERIFY(writeFile(path, fileBytes(records)));
        QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
        const TaskListFile::ReadResult result = TaskListFile::read(path);
        QVERIFY(!result.ok);
        QVERIFY(!result.error.isEmpty());
    } else {
        const QString nowhere = dir.filePath(QStringLiteral("gone/") + TaskListFile::FileName);
        QString error;
        QVERIFY(!TaskListFile::write(nowhere, records, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!QFile::exists(nowhere));
    }
}

QTEST_GUILESS_MAIN(TestTaskListFile)
#include "tst_tasklistfile.moc"
