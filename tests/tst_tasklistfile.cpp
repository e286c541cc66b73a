// The task list file: the 334-byte record layout, what reading gives back of
// every field from a file whose last record is cut short, and a write that
// fails.
#include "tasks/tasklistfile.h"

#include <QTemporaryDir>
#include <QtTest>

// Records are written with their leading fields only, the rest left empty.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
using R = TaskRecord;
using namespace TaskListFile;
// Written between two plain records, and read back (a blank URL: no record).
struct Case {
    R written, read;
};
Q_DECLARE_METATYPE(Case)

class TestTaskListFile : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    const QString list = dir.filePath(FileName), part = dir.filePath("part.zip");
    static QByteArray load(QFile &&f) { return f.open(QFile::ReadOnly) ? f.readAll() : ""; }
    static void row(const char *name, R w, R r) { QTest::newRow(name) << Case{w, r}; }

private Q_SLOTS:
    void cleanup() { QDir(dir.path()).removeRecursively(), QDir().mkpath(dir.path()); }

    void readBack_data()
    {
        QTest::addColumn<Case>("c");
        // Only blanks are taken off, at both ends.
        row("blanks trimmed", {0, "  \tu v\t "}, {0, "\tu v\t"});
        row("blank URL: no record", {0, "   ", {}, 5, 5}, {});
        // Sizes wider than the file's 32 bits are clamped, not wrapped around.
        row("sizes clamped", {0, "u", {}, -3000000000, 1LL << 40}, {0, "u", {}, INT_MIN, INT_MAX});
        // An unfinished task of known size has what its partial file (650 bytes) holds.
        row("partial file shorter", {0, "u", part, 1000, 900}, {0, "u", part, 1000, 650});
    }
    void readBack()
    {
        QFETCH(Case, c);
        const QVector<R> written{{0, "http://h/a", {}, 10, 10}, c.written, {0, "http://h/c"}};
        QFile partial(part);
        QVERIFY(write(list, written) && partial.open(QIODevice::WriteOnly) && partial.resize(650));
        // A new list holds proxy passwords: readable by its owner only.
        QCOMPARE(QFile::permissions(list) & 0x0777, QFile::ReadUser | QFile::WriteUser);
        // Cut, the list gives its whole records only; read as anything that
        // reads the list file alone reads it, without the companion file.
        QVERIFY(QFile::resize(list, 3 * RecordSize - 1));
        QFile::remove(companionPath(list));
        QByteArray got, want;
        for (const R &r : read(list).records)
            got += encodeRecord(r) + r.Url.toUtf8();
        for (const R &r : {written[0], c.read})
            want += r.Url.isEmpty() ? "" : encodeRecord(r) + r.Url.toUtf8();
        QCOMPARE(got, want);
    }

    void writes()
    {
        // Every text filled to its width, in GBK; finished, so that reading it
        // looks at no partial file.
        R r{0x1234, "http://h/" + QString(171, 'u'), "/tmp/文件" + QString(41, 'p'), 70000, 69999};
        r.UseProxy = -1, r.ProxyHost = QString(50, 'h'), r.ProxyPort = 8080;
        r.ProxyUser = "用户" + QString(16, 'n'), r.ProxyPass = "密码 " + QString(15, 'w');
        // Little-endian numbers; texts in GBK, filled with blanks to their width.
        const QByteArray full = QByteArray::fromHex("3412") + "http://h/" + QByteArray(171, 'u')
                                + "/tmp/\xce\xc4\xbc\xfe" + QByteArray(41, 'p')
                                + QByteArray::fromHex("70110100 6f110100 ffff")
                                + QByteArray(50, 'h') + QByteArray::fromHex("901f")
                                + "\xd3\xc3\xbb\xa7" + QByteArray(16, 'n') + "\xc3\xdc\xc2\xeb "
                                + QByteArray(15, 'w');
        QVERIFY(write(list, {r}));
        QCOMPARE(load(QFile(list)).toHex(' '), full.toHex(' '));
        QCOMPARE(encodeRecord(read(list).records.value(0)).toHex(' '), full.toHex(' '));
        // An abandoned write leaves the previous list whole and no temporary file beside it.
        QVERIFY(!write(list, {{0, "a"}, r}, nullptr, [](int i) { return i == 0; }));
        QCOMPARE(load(QFile(list)), full);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{FileName});
    }
};

QTEST_GUILESS_MAIN(TestTaskListFile)
#include "tst_tasklistfile.moc"
