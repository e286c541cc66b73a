// The task list file: the 334-byte record layout, reading it back with the
// downloaded counts taken from the partial files, and writing it safely.
#include "tasks/tasklistfile.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

// A record as it lies in the file: little-endian numbers, GBK texts padded
// with blanks to their field's width.
static QByteArray layout(qint16 reserved, const QByteArray &url, const QByteArray &path, qint32 size, qint32 got, qint16 useProxy = 0, const QByteArray &host = "", qint16 port = 0, const QByteArray &user = "", const QByteArray &pass = "")
{
    const auto pad = [](const QByteArray &text, int width) { return text + QByteArray(width - text.size(), ' '); };
    const auto le = [](auto v) { QByteArray b(sizeof v, '\0'); qToLittleEndian(v, b.data()); return b; };
    return le(reserved) + pad(url, 180) + pad(path, 50) + le(size) + le(got) + le(useProxy) + pad(host, 50) + le(port) + pad(user, 20) + pad(pass, 20);
}
// Every field of every record, so that one comparison shows any difference.
static QString describe(const QVector<TaskRecord> &records)
{
    QString text;
    for (const TaskRecord &r : records) text += QStringList{QString::number(r.Reserved), r.Url, r.FilePath, QString::number(r.FileSize), QString::number(r.GotSize), QString::number(r.UseProxy), r.ProxyHost, QString::number(r.ProxyPort), r.ProxyUser, r.ProxyPass}.join(u'|') + u'\n';
    return text;
}
static TaskRecord task(const QString &url, qint64 size = 0, qint64 got = 0, const QString &path = {}) { return {0, url, path, size, got, 0, {}, 0, {}, {}}; }
static QByteArray readFile(const QString &path) { QFile f(path); return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray(); }
static bool put(const QString &path, const QByteArray &bytes, QIODevice::OpenMode mode) { QFile f(path); return f.open(mode) && f.write(bytes) == bytes.size(); }

// Reserved, proxy and GBK texts filled in; finished, so reading it looks at no partial file.
static const TaskRecord Full{0x1234, "http://h/f.zip", QString::fromUtf8("/tmp/文件.zip"), 123456, 123455, -1, "proxy.local", 8080, QString::fromUtf8("用户"), QString::fromUtf8("密码 x")};

// Written; the file as written (null: not looked at); appended to the file
// before it is read; the partial file's size (-1: none); read back.
struct Case { QVector<TaskRecord> written; QByteArray bytes, extra; int partBytes; QVector<TaskRecord> read; };
Q_DECLARE_METATYPE(Case)

class TestTaskListFile : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    const QString listPath = dir.filePath(TaskListFile::FileName), partPath = dir.filePath(QStringLiteral("part.zip"));

private Q_SLOTS:
    void cleanup() { QDir(dir.path()).removeRecursively(), QDir().mkpath(dir.path()); }

    void writeAndRead_data()
    {
        QTest::addColumn<Case>("c");
        const TaskRecord plain = task("http://h/a", 1000, 1000);
        QTest::newRow("668 bytes and 32 more: incomplete record ignored") << Case{{plain, Full}, layout(0, "http://h/a", "", 1000, 1000) + layout(0x1234, "http://h/f.zip", "/tmp/\xce\xc4\xbc\xfe.zip", 123456, 123455, -1, "proxy.local", 8080, "\xd3\xc3\xbb\xa7", "\xc3\xdc\xc2\xeb x"), QByteArray(32, 'x'), -1, {plain, Full}};
        QTest::newRow("blank URL skipped") << Case{{plain, task("", 5), Full}, {}, {}, -1, {plain, Full}};
        // "a" and then 100 times 下, two bytes each: 1 + 2 × 89 = 179 bytes; the
        // 90th character would need bytes 180 and 181, so it is left out whole.
        QTest::newRow("cut on a whole GBK character") << Case{{task("a" + QString(100, QChar(0x4E0B)))}, layout(0, "a" + QByteArray("\xcf\xc2").repeated(89), "", 0, 0), {}, -1, {task("a" + QString(89, QChar(0x4E0B)))}};
        // Sizes wider than the file's 32 bits are clamped, not wrapped around.
        QTest::newRow("sizes clamped") << Case{{task("http://h/iso", 3000000000, qint64(5) << 32)}, layout(0, "http://h/iso", "", 2147483647, 2147483647), {}, -1, {task("http://h/iso", 2147483647, 2147483647)}};
        // An unfinished task of known size has what its partial file holds.
        QTest::newRow("unfinished: count from the partial file") << Case{{task("http://h/p", 1000, 400, partPath)}, {}, {}, 650, {task("http://h/p", 1000, 650, partPath)}};
        QTest::newRow("unfinished: partial file gone") << Case{{task("http://h/p", 1000, 400, partPath)}, {}, {}, -1, {task("http://h/p", 1000, 0, partPath)}};
        QTest::newRow("one byte short is finished") << Case{{task("http://h/p", 1000, 999, partPath)}, {}, {}, 3, {task("http://h/p", 1000, 999, partPath)}};
        QTest::newRow("negative sizes") << Case{{task("http://h/n", -5, 7), task("http://h/m", 0, -7)}, {}, {}, -1, {task("http://h/n", -5, 7), task("http://h/m", 0, 0)}};
        QTest::newRow("size unknown keeps its count") << Case{{task("http://h/p", 0, 5000, partPath)}, {}, {}, 10, {task("http://h/p", 0, 5000, partPath)}};
    }
    void writeAndRead()
    {
        QFETCH(Case, c);
        QVERIFY(TaskListFile::write(listPath, c.written));
        // A new list holds proxy passwords: readable by its owner only.
        QCOMPARE(QFile::permissions(listPath) & 0x0777, QFileDevice::ReadUser | QFileDevice::WriteUser);
        if (!c.bytes.isNull())
            QCOMPARE(readFile(listPath).toHex(' '), c.bytes.toHex(' '));
        QVERIFY(put(listPath, c.extra, QIODevice::Append) && (c.partBytes < 0 || put(partPath, QByteArray(c.partBytes, 'd'), QIODevice::Append)));
        const TaskListFile::ReadResult result = TaskListFile::read(listPath);
        QVERIFY(result.ok);
        QCOMPARE(describe(result.records), describe(c.read));
    }

    // Cut anywhere, a list gives its whole records and is not written to.
    void truncatedAtEveryLength()
    {
        const QVector<TaskRecord> three{task("http://h/a", 10, 10), Full, task("http://h/c")};
        QVERIFY(TaskListFile::write(listPath, three));
        const QByteArray whole = readFile(listPath);
        for (int length = 0; length <= whole.size(); ++length) {
            QVERIFY(put(listPath, whole.left(length), QIODevice::WriteOnly | QIODevice::Truncate));
            const TaskListFile::ReadResult result = TaskListFile::read(listPath);
            QVERIFY(result.ok);
            QCOMPARE(describe(result.records), describe(three.mid(0, length / TaskListFile::RecordSize)));
            QCOMPARE(readFile(listPath), whole.left(length));
        }
    }

    void failures()
    {
        // An abandoned write leaves the previous list whole and no temporary file beside it.
        QVERIFY(TaskListFile::write(listPath, {task("http://old/1")}) && TaskListFile::write(listPath, {Full}));
        const QByteArray old = readFile(listPath);
        QCOMPARE(old, TaskListFile::encodeRecord(Full));
        QString error;
        for (int failAt = 0; failAt < 3; ++failAt) {
            QVERIFY(!TaskListFile::write(listPath, {task("http://h/a"), Full, task("http://h/b")}, &error, [failAt](int i) { return i != failAt; }) && !error.isEmpty());
            QCOMPARE(readFile(listPath), old);
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{TaskListFile::FileName});
        }
        // A folder in place of the file: neither read nor written.
        const QString folder = dir.filePath(QStringLiteral("folder.zvt"));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.zvt")));
        const TaskListFile::ReadResult result = TaskListFile::read(folder);
        QVERIFY(!result.ok && !result.error.isEmpty());
        QVERIFY(!TaskListFile::write(folder, {Full}, &error) && !error.isEmpty() && QFileInfo(folder).isDir());
    }
};

QTEST_GUILESS_MAIN(TestTaskListFile)
#include "tst_tasklistfile.moc"
