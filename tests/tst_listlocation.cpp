// Where the task list lives: beside a portable copy, in the data folder for
// an installed copy or a folder that takes no file, an old list carried over.
#include "tasks/listlocation.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestListLocation : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void choose_data()
    {
        QTest::addColumn<QString>("programFolder");   // inside a fresh folder, or absolute
        QTest::addColumn<bool>("installed");          // share/applications/zipvane.desktop beside bin/
        QTest::addColumn<bool>("listBeside");
        QTest::addColumn<bool>("fellBack");
        QTest::newRow("portable copy") << "app" << false << true << false;
        QTest::newRow("installed copy") << "usr/bin" << true << false << true;
        QTest::newRow("installed copy, old list carried over") << "usr/bin" << true << true << true;
        QTest::newRow("folder takes no file") << "/proc" << false << false << true;
    }
    void choose()
    {
        QFETCH(QString, programFolder);
        QFETCH(bool, installed);
        QFETCH(bool, listBeside);
        QFETCH(bool, fellBack);
        QTemporaryDir root;
        const QDir top(root.path());
        const QString program = top.filePath(programFolder);
        top.mkpath(programFolder);
        const QByteArray oldList(334, 'x');
        const auto put = [](const QString &path, const QByteArray &bytes) {
            QFile file(path);
            QVERIFY(QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly));
            file.write(bytes);
        };
        if (installed)
            put(top.filePath(QStringLiteral("usr/share/applications/zipvane.desktop")), {});
        if (listBeside)
            put(QDir(program).filePath(QStringLiteral("Zipvane.zvt")), oldList);

        const QString data = top.filePath(QStringLiteral("home/.local/share/Zipvane"));
        const ListLocation where = chooseListLocation(program, data);
        QCOMPARE(where.fellBack, fellBack);
        QCOMPARE(where.path, QDir(fellBack ? data : program).filePath(QStringLiteral("Zipvane.zvt")));
        QCOMPARE(QDir(data).exists(), fellBack);
        QFile list(where.path);
        QCOMPARE(list.open(QIODevice::ReadOnly) ? list.readAll() : QByteArray(),
                 listBeside ? oldList : QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestListLocation)
#include "tst_listlocation.moc"
