// The task list file: the 334-byte record layout, what reading gives back of
// every field, at every length the file may be cut to, and writes that fail.
#include "tasks/tasklistfile.h"

#include <QTemporaryDir>
#include <QtTest>

using R = TaskRecord;
using namespace TaskListFile;
// Written between two plain records, and read back (a blank URL: no record).
struct Case {
    R written, read;
};
Q_DECLARE_METATYPE(Case)

static R task(const QString &url, qint64 size = 0, qint64 got = 0, const QString &path = {})
{
    R r;
    r.Url = url, r.FileSize = size, r.GotSize = got, r.FilePath = path;
    return r;
}
// Every text filled to its width, in GBK; finished, so that reading it looks
// at no partial file.
static const R Full = [] {
    R r = task("http://h/" + QString(171, u'u'), 123456, 123455,
               QStringLiteral("/tmp/文件") + QString(41, u'p'));
    r.Reserved = 0x1234, r.UseProxy = -1, r.ProxyHost = "proxy." + QString(44, u'h'),
    r.ProxyPort = 8080;
    r.ProxyUser = QStringLiteral("用户") + QString(16, u'n'),
    r.ProxyPass = QStringLiteral("密码 ") + QString(15, u'w');
    return r;
}();

class TestTaskListFile : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    const QString list = dir.filePath(FileName), part = dir.filePath("part.zip");
    static QByteArray load(QFile &&f) { return f.open(QFile::ReadOnly) ? f.readAll() : ""; }
    static void row(const char *name, R w, R r) { QTest::newRow(name) << Case{w, r}; }
    // Every field, so that one comparison shows any difference.
    static QString describe(const QVector<R> &records)
    {
        QString text;
        for (const R &r : records)
            QDebug(&text) << r.Reserved << r.Url << r.FilePath << r.FileSize << r.GotSize
                          << r.UseProxy << r.ProxyHost << r.ProxyPort << r.ProxyUser << r.ProxyPass
                          << "\n";
        return text;
    }

private Q_SLOTS:
    void cleanup() { QDir(dir.path()).removeRecursively(), QDir().mkpath(dir.path()); }

    void readBack_data()
    {
        QTest::addColumn<Case>("c");
        row("every field at its width", Full, Full);
        row("URL cut at 180 bytes", task(Full.Url + "v"), task(Full.Url));
        // 1 + 2 × 89 = 179 bytes: the 90th character would need bytes 180 and 181.
        row("cut on a whole character", task("a" + QString(100, u'下')),
            task("a" + QString(89, u'下')));
        // Only blanks are taken off, at both ends.
        row("blanks trimmed", task("  abc   "), task("abc"));
        row("tabs kept", task(" \tu v\t "), task("\tu v\t"));
        row("blank URL: no record", task("   ", 5, 5), task(""));
        // Sizes wider than the file's 32 bits are clamped, not wrapped around.
        row("sizes clamped", task("u", 3000000000, 1LL << 40), task("u", 2147483647, 2147483647));
        row("negative sizes clamped", task("u", -3000000000, -1), task("u", -2147483648LL, -1));
        // An unfinished task of known size has what its partial file (650 bytes) holds.
        row("partial file longer", task("u", 1000, 400, part), task("u", 1000, 650, part));
        row("partial file shorter", task("u", 1000, 900, part), task("u", 1000, 650, part));
        row("partial file gone", task("u", 1000, 400, part + "x"), task("u", 1000, 0, part + "x"));
        row("a folder, no file", task("u", 1000, 400, dir.path()), task("u", 1000, 0, dir.path()));
        row("one byte short: finished", task("u", 1000, 999, part), task("u", 1000, 999, part));
        row("size unknown", task("u", 0, 5000, part), task("u", 0, 5000, part));
        row("size unknown, count negative", task("u", 0, -7), task("u", 0, 0));
    }
    void readBack()
    {
        QFETCH(Case, c);
        const QVector<R> written{task("http://h/a", 10, 10), c.written, task("http://h/c")};
        QFile partial(part);
        QVERIFY(write(list, written) && partial.open(QIODevice::WriteOnly) && partial.resize(650));
        // A new list holds proxy passwords: readable by its owner only.
        QCOMPARE(QFile::permissions(list) & 0x0777, QFile::ReadUser | QFile::WriteUser);
        const QByteArray whole = load(QFile(list));
        QCOMPARE(whole,
                 encodeRecord(written[0]) + encodeRecord(c.written) + encodeRecord(written[2]));
        // Cut anywhere, the list gives its whole records and is not written to.
        const QVector<R> read{written[0], c.read, written[2]};
        for (int length = whole.size(); length >= 0; --length) {
            QVERIFY(QFile::resize(list, length));
            QVector<R> want = read.mid(0, length / RecordSize);
            want.removeIf([](const R &r) { return r.Url.isEmpty(); });
            const ReadResult result = TaskListFile::read(list);
            QVERIFY(result.ok);
            QCOMPARE(describe(result.records), describe(want));
            QCOMPARE(load(QFile(list)), whole.left(length));
        }
    }

    void writes()
    {
        // A missing list is made empty, and private.
        QVERIFY(read(list).records.isEmpty() && QFileInfo(list).size() == 0);
        QCOMPARE(QFile::permissions(list) & 0x0777, QFile::ReadUser | QFile::WriteUser);
        // Little-endian numbers; texts in GBK, filled with blanks to their width.
        const QByteArray full = QByteArray::fromHex("3412") + "http://h/" + QByteArray(171, 'u')
                                + "/tmp/\xce\xc4\xbc\xfe" + QByteArray(41, 'p')
                                + QByteArray::fromHex("40e20100 3fe20100 ffff") + "proxy."
                                + QByteArray(44, 'h') + QByteArray::fromHex("901f")
                                + "\xd3\xc3\xbb\xa7" + QByteArray(16, 'n') + "\xc3\xdc\xc2\xeb "
                                + QByteArray(15, 'w');
        QVERIFY(write(list, {task("http://old/1")}) && write(list, {Full}));
        QCOMPARE(load(QFile(list)).toHex(' '), full.toHex(' '));
        // An abandoned write leaves the previous list whole and no temporary file beside it.
        QString error;
        for (int failAt = 0; failAt < 3; ++failAt) {
            const auto stop = [failAt](int i) { return i != failAt; };
            QVERIFY(!write(list, {task("a"), Full, task("b")}, &error, stop) && !error.isEmpty());
            QCOMPARE(load(QFile(list)), full);
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{FileName});
        }
        // A folder in place of the file: neither read nor written.
        const ReadResult result = read(dir.path());
        QVERIFY(!result.ok && !result.error.isEmpty());
        QVERIFY(!write(dir.path(), {Full}, &error) && !error.isEmpty()
                && QFileInfo(list).exists());
    }
};

QTEST_GUILESS_MAIN(TestTaskListFile)
#include "tst_tasklistfile.moc"
