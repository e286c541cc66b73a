// The task list file: the 334-byte record layout, what reading gives back of
// every field from a file whose last record is cut short; the list and its
// companion read back every task after a crash at any step of a write, a
// write refused by a size limit, an older companion; the
// writer's last write landing last; where the list lives.
#include "support/files.h"
#include "tasks/listlocation.h"
#include "tasks/listwriter.h"
#include "tasks/piecemap.h"
#include "tasks/tasklistfile.h"

#include <QScopeGuard>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

// Records are written with their leading fields only, the rest left empty.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
using R = TaskRecord;
using namespace TaskListFile;
// Written between two plain records, and read back (a blank URL: no record).
struct Case {
    R written, read;
};
Q_DECLARE_METATYPE(Case)
Q_DECLARE_METATYPE(QVector<R>)
Q_DECLARE_METATYPE(std::optional<WriteStep>)

// Tasks whose records cut them: URLs past 180 bytes, paths past 50, sizes of
// 2 GiB and more, proxy accounts past 20 bytes; A and B alike in all a record
// keeps of URL, path and proxy.
R task(const QString &name, qint64 size, qint64 got, const QString &validator = {})
{
    R r{0, "http://h/" + QString(180, 'u') + name, "/nowhere/" + QString(50, 'p') + name, size,
        got};
    r.UseProxy = -1, r.ProxyHost = "proxy", r.ProxyPort = 3128, r.Validator = validator;
    r.ProxyUser = QString(25, 'n'), r.ProxyPass = "пароль";
    return r;
}
const qint64 GiB = 1LL << 30;
R with(R r, QString R::*field, const QString &value)
{
    r.*field = value;
    return r;
}
R stood(R r, R::Standing as, int place = 0)
{
    r.StoodAs = as, r.QueuePlace = place;
    return r;
}
const R A1 = task("a", 3 * GiB, 3 * GiB, "\"a1\""), A2 = task("a", 3 * GiB, 3 * GiB, "\"a2\"");
const R B1 = task("b", 5 * GiB, 2 * GiB);
const R B2 = stood(task("b", 6 * GiB, 2 * GiB), R::Standing::Queued, 2);
const R P = {0, "http://h/" + QString(190, 'p')};  // alike no other
const R E
    = with(A1, &R::FilePath, "/nowhere/e");  // A's URL, its own short path: alike no other either
// With what a browser sent along: kept in the companion alone.
const R D = with(with(with(with(with(with({0, "http://h/d", "/nowhere/d", 4 * GiB, 4 * GiB},
                                          &R::Validator, "Wed, 21 Oct 2015 07:28:00 GMT"),
                                     &R::Cookies, "a=1; b=2"),
                                &R::CookieOrigin, "http://h:80"),
                           &R::Referrer, "http://h/page"),
                      &R::UserAgent, "Browser/1"),
                 &R::SuggestedName, "下载.zip");
QVector<R> padded(QVector<R> list)  // long enough that only its companion fits a small limit
{
    for (int i = 0; i < 20; ++i)
        list.append({0, "http://h/n" + QString::number(i)});
    return list;
}

struct Where {
    QString program;     // the program's folder, inside a fresh folder unless absolute
    QStringList files;   // made inside the fresh folder, each holding its own name
    QString list, from;  // the list chosen, and the file whose bytes it holds ("": none)
};
Q_DECLARE_METATYPE(Where)

class TestTaskListFile : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString list = dir.filePath(FileName);
    const QString part = dir.filePath("part.zip");
    static void row(const char *name, R w, R r) { QTest::newRow(name) << Case{w, r}; }

    // What a task reads back as: with its entry, or from its record alone.
    static QString said(const R &r)
    {
        QStringList s{r.Url,       r.FilePath,  r.ProxyHost,    r.ProxyUser,
                      r.ProxyPass, r.Validator, r.Cookies,      r.CookieOrigin,
                      r.Referrer,  r.UserAgent, r.SuggestedName};
        for (qint64 n : {r.FileSize, r.GotSize, qint64(r.UseProxy), qint64(r.ProxyPort),
                         qint64(r.PathUncertain), qint64(r.SizeOpen), qint64(r.StoodAs),
                         qint64(r.QueuePlace)})
            s << QString::number(n);
        return s.join('|');
    }
    QString alone(const R &r)
    {
        QTemporaryDir other;
        const QString path = other.filePath(FileName);
        return write(path, {r}) && QFile::remove(companionPath(path))
                   ? said(read(path).records.value(0))
                   : "";
    }
    // Empty when the list at `path` reads back as the tasks of `want`, each as
    // either of its versions, or as its record alone for the URL `bare`; else
    // the first record that does not.
    QString readsBack(const QVector<R> &want, const QString &bare, const QString &path)
    {
        const QVector<R> got = read(path).records;
        if (got.size() != want.size())
            return QString("%1 records for %2").arg(got.size()).arg(want.size());
        for (int i = 0; i < got.size(); ++i) {
            QStringList ok;
            for (const R &version : {A1, A2, B1, B2, P, D, want[i]}) {
                if (version.Url == want[i].Url) {
                    R read = version;  // an unfinished task has what its file holds: none here
                    read.GotSize = isComplete(read) ? read.GotSize : 0;
                    ok << said(read);
                }
            }
            if (want[i].Url == bare)
                ok << alone(want[i]);
            if (!ok.contains(said(got[i])))
                return said(got[i]) + " is not one of " + ok.join(" / ");
        }
        return {};
    }

private Q_SLOTS:
    void initTestCase() { std::signal(SIGXFSZ, SIG_IGN); }  // a write past the limit fails
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
        // Written in pieces (two of 4 KiB, 1 MiB apart): what its map holds;
        // without the map, nothing of a file with a hole before its end.
        row("pieces, map", {0, "u", part + ".p", 2 << 20, 900},
            {0, "u", part + ".p", 2 << 20, 8192});
        row("pieces, no map", {0, "u", part + ".h", 2 << 20, 900},
            {0, "u", part + ".h", 2 << 20, 0});
    }
    void readBack()
    {
        QFETCH(Case, c);
        const QVector<R> written{{0, "http://h/a", {}, 10, 10}, c.written, {0, "http://h/c"}};
        QVERIFY(write(list, written) && writeFile(part, QByteArray(650, 0)));
        PieceMap pieces(2 << 20);
        for (const QString &name : {part + ".p", part + ".h"}) {
            QFile file(name);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(4096, 'a')) == 4096
                    && file.seek(1 << 20) && file.write(QByteArray(4096, 'b')) == 4096);
        }
        pieces.add(0, 4096), pieces.add(1 << 20, (1 << 20) + 4096);
        QVERIFY(pieces.save(part + ".p"));
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
        // The largest size a record holds is that size, not "2 GiB or more".
        r.FileSize = INT_MAX;
        QVERIFY(write(list, {r}) && !read(list).records.value(0).SizeOpen);
        r.FileSize = 70000;
        QVERIFY(write(list, {r}));
        QCOMPARE(readFile(list).toHex(' '), full.toHex(' '));
        QCOMPARE(encodeRecord(read(list).records.value(0)).toHex(' '), full.toHex(' '));
        // A companion that cannot be put in place (a folder holds its name):
        // the list is not written either.
        QVERIFY(QDir().mkpath(companionPath(list)));
        QVERIFY(!write(list, {P}));
        QCOMPARE(readFile(list), full);
    }

    // How a task stood is kept beside its record (read back with B2 in
    // crashPoints): the list's bytes are those of idle tasks, and a standing
    // this version does not know is none.
    void standing()
    {
        const R run = stood({0, "http://h/r"}, R::Standing::Running),
                queued = stood({0, "http://h/q"}, R::Standing::Queued, 2);
        QVERIFY(write(list, {{0, run.Url}, {0, queued.Url}}));
        const QByteArray idleBytes = readFile(list);
        QVERIFY(!QFile::exists(companionPath(list)));
        QVERIFY(write(list, {run, queued}) && readFile(list) == idleBytes);
        QCOMPARE(int(read(list).records.value(0).StoodAs), int(R::Standing::Running));
        const QByteArray entries = readFile(companionPath(list));
        QVERIFY(writeFile(companionPath(list), QByteArray(entries).replace("queued", "paused")));
        QCOMPARE(int(read(list).records.value(1).StoodAs), int(R::Standing::Idle));
    }

    // The first list on disk, then the second written and stopped before a
    // step as a kill would stop it, or refused by a file size limit between
    // the companion's size and the list's: each record reads back its own
    // values (the old list's, or its task's newer ones), or, where alike
    // records of the two lists disagree, what the record alone holds. The
    // next write then puts the second list down whole.
    void crashPoints_data()
    {
        QTest::addColumn<QVector<R>>("second");
        QTest::addColumn<std::optional<WriteStep>>("stop");
        QTest::addColumn<rlim_t>("limit");
        QTest::addColumn<QString>("bare");  // the URL of a record that may read as itself alone
        const auto add = [](const QString &name, const QVector<R> &second,
                            std::optional<WriteStep> stop, rlim_t limit, const QString &bare) {
            QTest::newRow(qPrintable(name)) << second << stop << limit << bare;
        };
        for (const QString &name : QStringList{"grown", "alike deleted"}) {
            // A deleted, B moves to A's ordinal: while the companion holds
            // both lists, that slot's entries name two tasks.
            const bool alike = name != "grown";
            const QVector<R> second = alike ? padded({B2, E, D}) : padded({A2, B2, E, D});
            const QString a = alike ? A1.Url : "", b = alike ? B2.Url : "";
            add(name + ", stopped before the companion", second, WriteStep::Companion,
                RLIM_INFINITY, "");
            add(name + ", stopped before the list", second, WriteStep::List, RLIM_INFINITY, a);
            add(name + ", stopped before the prune", second, WriteStep::Prune, RLIM_INFINITY, b);
            add(name + ", whole", second, {}, RLIM_INFINITY, "");
            add(name + ", list refused", second, {}, 4000, a);
        }
        // A short list whose companion alone is past the limit.
        add("companion refused", {A2, B2, D}, {}, 1500, "");
    }
    void crashPoints()
    {
        QFETCH(QVector<R>, second);
        QFETCH(std::optional<WriteStep>, stop);
        QFETCH(rlim_t, limit);
        QFETCH(QString, bare);
        const QVector<R> first{A1, B1, E, P};
        QVERIFY(write(list, first));
        const bool failed = limit != RLIM_INFINITY;
        {
            const rlimit none{RLIM_INFINITY, RLIM_INFINITY}, small{limit, RLIM_INFINITY};
            setrlimit(RLIMIT_FSIZE, &small);
            const auto restore = qScopeGuard([&] { setrlimit(RLIMIT_FSIZE, &none); });
            const bool done = write(list, second, nullptr, [&](WriteStep s) { return s == stop; });
            QCOMPARE(done, !stop && !failed);
        }
        const bool old = failed || stop == WriteStep::Companion || stop == WriteStep::List;
        QCOMPARE(readsBack(old ? first : second, bare, list), QString());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({FileName, "Zipvane.zvx"}));
        QVERIFY(write(list, second));
        QCOMPARE(readsBack(second, {}, list), QString());
    }

    // A companion of the earlier form names records by number: taken where
    // it still matches its record, passed over where it does not.
    void olderCompanion()
    {
        QVERIFY(write(list, {{0, P.Url.left(180)}, {0, "http://h/2"}}));
        QVERIFY(writeFile(companionPath(list),
                          "{\"url\":\"" + P.Url.toLatin1() + "\",\"record\":1}\n{\"url\":\""
                              + P.Url.toLatin1() + "x\",\"record\":2}\nnot json\n"));
        const QVector<R> back = read(list).records;
        QCOMPARE(QStringList({back.value(0).Url, back.value(1).Url}),
                 QStringList({P.Url, "http://h/2"}));
        // Written again, it is the present form.
        QVERIFY(write(list, back));
        QCOMPARE(read(list).records.value(0).Url, P.Url);
        QVERIFY(!readFile(companionPath(list)).contains("record"));
    }

    // Records past the MaxTasks shown keep their companion entries through a
    // read and a write, alike ones among them told apart by their ordinal.
    void pastTheShown()
    {
        QVector<R> all(MaxTasks, R{0, "http://h/shown"});
        all << A1 << B1 << D;
        QVERIFY(write(list, all));
        const QByteArray before = readFile(list);
        ReadResult back = read(list);
        QCOMPARE(back.records.size() * 10 + back.unshown.size(), MaxTasks * 10 + 3);
        back.records.last().Url = "http://h/last";  // one change among the shown
        QVERIFY(write(list, back.records, nullptr, {}, back.unshown));
        QCOMPARE(readFile(list).mid(MaxTasks * RecordSize), before.mid(MaxTasks * RecordSize));
        QStringList kept, want;
        for (const Unshown &u : read(list).unshown)
            kept << u.entry["url"].toString() + u.entry["size"].toString()
                        + u.entry["validator"].toString();
        for (const R &r : {A1, B1, D})
            want << (r.Url.size() > 180 ? r.Url : "") + QString::number(r.FileSize) + r.Validator;
        QCOMPARE(kept, want);
    }

    // The last write lands last: a background write in hand is waited for,
    // one given and not begun is not written after it, nothing given after
    // the writer is sealed is written at all.
    void lastWriteLandsLast()
    {
        QSemaphore began, release;
        QStringList landed;  // writes never overlap: each is the writer's alone
        ListWriter writer([&](const QString &path, const QVector<R> &, const auto &, QString *) {
            if (path == "slow")
                began.release(), release.acquire();
            landed << path;
            return true;
        });
        writer.submit("slow", {}, {});
        began.acquire();
        writer.submit("superseded", {}, {});
        std::thread last([&] { writer.writeNow("last", {}, {}, nullptr); });
        QTest::qWait(20);  // most often the last write waits by now; either way it lands last
        release.release();
        last.join();
        writer.seal();
        writer.submit("late", {}, {});
        writer.waitIdle();
        QCOMPARE(QStringList({landed.first(), landed.last()}), QStringList({"slow", "last"}));
        QVERIFY(!landed.contains("late"));
    }

    // Where the list lives: beside a portable copy; in the data folder for an
    // installed copy or a folder that takes no file, an old list carried over once.
    void choose_data()
    {
        QTest::addColumn<Where>("c");
        const QString app = "app/Zipvane.zvt", desktop = "usr/share/applications/zipvane.desktop";
        const QString old = "usr/bin/Zipvane.zvt", kept = "home/zv/Zipvane.zvt";
        QTest::newRow("portable") << Where{"app", {app}, app, app};
        QTest::newRow("old list carried over") << Where{"usr/bin", {desktop, old}, kept, old};
        QTest::newRow("with its companion")
            << Where{"usr/bin", {desktop, old, "usr/bin/Zipvane.zvx"}, kept, old};
        QTest::newRow("list kept") << Where{"usr/bin", {desktop, old, kept}, kept, kept};
        QTest::newRow("folder takes no file") << Where{"/proc", {}, kept, ""};
    }
    void choose()
    {
        QFETCH(Where, c);
        QTemporaryDir root;
        const QDir top(root.path());
        for (const QString &name : c.files)
            QVERIFY(writeFile(top.filePath(name), name.toUtf8()));
        const auto where = chooseListLocation(top.filePath(c.program), top.filePath("home/zv"));
        QCOMPARE(where.path, top.filePath(c.list));
        QCOMPARE(readFile(where.path), c.from.toUtf8());
        const QString from = TaskListFile::companionPath(c.from);
        QCOMPARE(readFile(TaskListFile::companionPath(where.path)),
                 c.files.contains(from) ? from.toUtf8() : "");
    }

    // A list that went to the data folder when its own folder refused it is
    // read from there while it is the newer one.
    void newerInDataFolder_data()
    {
        QTest::addColumn<int>("beside");  // age in seconds; -1: no such file
        QTest::addColumn<int>("moved");
        QTest::addColumn<bool>("takesMoved");
        QTest::newRow("moved newer") << 60 << 0 << true;
        QTest::newRow("beside newer") << 0 << 60 << false;
        QTest::newRow("same time") << 0 << 0 << false;
        QTest::newRow("none moved") << 0 << -1 << false;
        QTest::newRow("none beside") << -1 << 0 << false;
    }
    void newerInDataFolder()
    {
        QFETCH(int, beside);
        QFETCH(int, moved);
        QFETCH(bool, takesMoved);
        QTemporaryDir root;
        const QString list = root.filePath("app/Zipvane.zvt"),
                      kept = root.filePath("zv/Zipvane.zvt");
        const QDateTime now = QDateTime::currentDateTime();
        for (auto [path, age] : {std::pair(list, beside), std::pair(kept, moved)})
            QVERIFY(age < 0 || writeFile(path, {}, now.addSecs(-age)));
        QCOMPARE(newerListInDataFolder(list, root.filePath("zv")), takesMoved ? kept : "");
        QCOMPARE(newerListInDataFolder(kept, root.filePath("zv")), "");
    }
};

QTEST_GUILESS_MAIN(TestTaskListFile)
#include "tst_tasklistfile.moc"
