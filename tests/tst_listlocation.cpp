// Where the task list lives: beside a portable copy; in the data folder for an
// installed copy or a folder that takes no file, an old list carried over once.
#include "tasks/listlocation.h"

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
        const QString bin = "usr/bin/zipvane", old = "usr/bin/Zipvane.zvt",
                      kept = "home/zv/Zipvane.zvt";
        QTest::newRow("portable") << Case{"app", {app}, app, app};
        QTest::newRow("installed") << Case{"usr/bin", {bin, desktop}, kept, ""};
        QTest::newRow("old list carried over") << Case{"usr/bin", {bin, desktop, old}, kept, old};
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
        const QString data = top.filePath("home/zv");
        const ListLocation where = chooseListLocation(top.filePath(c.program), data);
        QCOMPARE(where.path, top.filePath(c.list));
        // The data folder is made when it is used.
        QCOMPARE(where.fellBack, c.list.startsWith("home/"));
        QCOMPARE(QFileInfo(data).isDir(), where.fellBack);
        QFile list(where.path);
        QCOMPARE(list.open(QFile::ReadOnly) ? list.readAll() : "", c.from.toUtf8());
        // A list carried over holds proxy passwords: readable by its owner only.
        if (c.from != c.list && !c.from.isEmpty())
            QCOMPARE(list.permissions() & 0x0777, QFile::ReadUser | QFile::WriteUser);
    }
};

QTEST_GUILESS_MAIN(TestListLocation)
#include "tst_listlocation.moc"
