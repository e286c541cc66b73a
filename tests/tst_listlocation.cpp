// Where the task list lives: beside a portable copy; in the data folder for an
// installed copy or a folder that takes no file, an old list carried over once.
#include "tasks/listlocation.h"
#include "tasks/tasklistfile.h"

#include <QTemporaryDir>
#include <QtTest>

struct Case {
    QString program;     // the program's folder, inside a fresh folder unless absolute
    QStringList files;   // made inside the fresh folder, each holding its own name
    QString list, from;  // the list chosen, and the file whose bytes it holds ("": none)
};
Q_DECLARE_METATYPE(Case)

class TestListLocation : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void choose_data()
    {
        QTest::addColumn<Case>("c");
        const QString app = "app/Zipvane.zvt", desktop = "usr/share/applications/zipvane.desktop";
        const QString old = "usr/bin/Zipvane.zvt", kept = "home/zv/Zipvane.zvt";
        QTest::newRow("portable") << Case{"app", {app}, app, app};
        QTest::newRow("old list carried over") << Case{"usr/bin", {desktop, old}, kept, old};
        QTest::newRow("with its companion")
            << Case{"usr/bin", {desktop, old, "usr/bin/Zipvane.zvx"}, kept, old};
        QTest::newRow("list kept") << Case{"usr/bin", {desktop, old, kept}, kept, kept};
        QTest::newRow("folder takes no file") << Case{"/proc", {}, kept, ""};
    }
    void choose()
    {
        QFETCH(Case, c);
        QTemporaryDir root;
        const QDir top(root.path());
        for (const QString &name : c.files) {
            QFile file(top.filePath(name));
            QVERIFY(QDir().mkpath(QFileInfo(file).path()) && file.open(QFile::WriteOnly)
                    && file.write(name.toUtf8()));
        }
        const auto where = chooseListLocation(top.filePath(c.program), top.filePath("home/zv"));
        QCOMPARE(where.path, top.filePath(c.list));
        QFile list(where.path);
        QCOMPARE(list.open(QFile::ReadOnly) ? list.readAll() : "", c.from.toUtf8());
        QFile companion(TaskListFile::companionPath(where.path));
        const QString from = TaskListFile::companionPath(c.from);
        QCOMPARE(companion.open(QFile::ReadOnly) ? companion.readAll() : "",
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
        for (auto [path, age] : {std::pair(list, beside), std::pair(kept, moved)}) {
            QFile file(path);
            if (age < 0)
                continue;
            QVERIFY(QDir().mkpath(QFileInfo(file).path()) && file.open(QFile::WriteOnly)
                    && file.setFileTime(now.addSecs(-age), QFileDevice::FileModificationTime));
        }
        QCOMPARE(newerListInDataFolder(list, root.filePath("zv")), takesMoved ? kept : "");
        QCOMPARE(newerListInDataFolder(kept, root.filePath("zv")), "");
    }
};

QTEST_GUILESS_MAIN(TestListLocation)
#include "tst_listlocation.moc"
