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
        const QString old = "usr/bin/Zipvane.zvt", kept = "home/zv/Zipvane.zvt";
        QTest::newRow("portable") << Case{"app", {app}, app, app};
        QTest::newRow("old list carried over") << Case{"usr/bin", {desktop, old}, kept, old};
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
    }
};

QTEST_GUILESS_MAIN(TestListLocation)
#include "tst_listlocation.moc"
