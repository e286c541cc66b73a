// links: window
// The main window: its layout and menus, the task list read at start-up and
// written at the end, task rows and their states, deleting, the drop window.
#include "app/frmdown.h"
#include "app/portal.h"
#include "app/stateicons.h"
#include "app/tasklistfile.h"
#include "app/tasklistview.h"
#include "support/fakeseams.h"
#include "ui/minform.h"

#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>
#include <unistd.h>

namespace {

TaskRecord record(const QString &url, qint64 size, qint64 got, const QString &path = {})
{
    TaskRecord r;
    r.Url = url;
    r.FileSize = size;
    r.GotSize = got;
    r.FilePath = path;
    return r;
}

QStringList urlsIn(const QString &listPath)
{
    const TaskListFile::ReadResult read = TaskListFile::read(listPath);
    QStringList urls;
    for (const TaskRecord &r : read.records)
        urls << r.Url;
    return urls;
}

QStringList actionTexts(const QList<QAction *> &actions)
{
    QStringList texts;
    for (const QAction *a : actions)
        texts << a->text() + QLatin1Char('/') + (a->menu() ? a->menu()->objectName() : a->objectName());
    return texts;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::shared_ptr<FakeSeamsState> fake_;
    std::unique_ptr<frmDown> main_;

    frmDown &main() { return *main_; }
    QString listPath() const { return dir_->filePath(QStringLiteral("Zipvane.zvt")); }
    void start() { main_ = std::make_unique<frmDown>(fakeSeams(fake_), dir_->path()); }
    void addTask(const QString &url)
    {
        main().AddUrl(url, {}, {}, {});
        main().DownTask(main().DownTask.appendSpare()).Url = url;
    }

private Q_SLOTS:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        fake_ = std::make_shared<FakeSeamsState>();
    }
    void cleanup()
    {
        main_.reset();
        dir_.reset();
    }

    void startUp()
    {
        start();
        QCOMPARE(main().windowTitle(), QStringLiteral("迅羽 2007 - 极速下载器"));
        QCOMPARE(main().centralWidget()->size(), QSize(483, 584));
        QCOMPARE(main().palette().color(QPalette::Window), QColor(192, 192, 192));
        QCOMPARE(main().SelRow, qint16(-1));
        QCOMPARE(main().rowCount(), 0);
        QCOMPARE(main().DownTask.upperBound(), 1);

        QTreeWidget *list = main().LView;
        QCOMPARE(list->columnCount(), 4);
        const QStringList headers{QStringLiteral("URL地址"), QStringLiteral("大小"),
                                  QStringLiteral("已下载大小"), QStringLiteral("时间")};
        const QList<int> widths{233, 80, 80, 80};
        for (int c = 0; c < 4; ++c) {
            QCOMPARE(list->headerItem()->text(c), headers[c]);
            QCOMPARE(list->columnWidth(c), widths[c]);
        }
        QVERIFY(!list->rootIsDecorated());
        QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);

        QCOMPARE(main().Frame1->title(), QStringLiteral("下载任务列表"));
        QCOMPARE(main().Label1->text(), QStringLiteral("=2K Bytes"));
        QCOMPARE(main().Text1->toPlainText(),
                 QStringLiteral("     功能\n1.同时下载两个文件\n2.支持断点续传\n3.支持代理服务器\n"
                                "      \n\n      使用\n1.双击开始或停止\n2.其他按鼠标右键\n"
                                "3.支持代理服务器\n"));
        QCOMPARE(main().SSTab1Tabs->count(), 3);
        QCOMPARE(main().SSTab1Tabs->tabText(0), QStringLiteral("信息提示"));
        QCOMPARE(main().SSTab1Tabs->tabText(1), QStringLiteral("下载情况"));
        QCOMPARE(main().SSTab1Tabs->tabText(2), QStringLiteral("文件信息"));

        QCOMPARE(actionTexts(main().menuBar()->actions()),
                 QStringList({QStringLiteral("文件/menufile"), QStringLiteral("设置/menusetup"),
                              QStringLiteral("帮助/menuHelp")}));
        QCOMPARE(actionTexts(main().menufile->actions()),
                 QStringList({QStringLiteral("加入新任务/menuadd"), QStringLiteral("退出/menuquit")}));
        QCOMPARE(actionTexts(main().menusetup->actions()), QStringList{QStringLiteral("删除/menuDel")});
        QCOMPARE(actionTexts(main().menuHelp->actions()), QStringList{PortalName + QStringLiteral("/mnuzv")});
        main().mnuzv->trigger();
        QCOMPARE(fake_->opened, QStringList{PortalUrl});

        QCOMPARE(main().Timer1->interval(), 1000);
        QVERIFY(main().Timer1->isActive());
        QCOMPARE(main().WebBrowser1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(main().WebBrowser1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QVERIFY(!main().WebBrowser1->openExternalLinks());
        QVERIFY(main().WebBrowser1->toPlainText().contains(QStringLiteral("迅羽")));

        QVERIFY(main().minForm->isVisible());   // before the main window shows
        main().show();
        QVERIFY(QTest::qWaitForWindowExposed(&main()));
        QVERIFY(main().minForm->isVisible());
        QCOMPARE(main().minimumSize(), main().maximumSize());   // not resizable
        QCOMPARE(main().centralWidget()->size(), QSize(483, 584));

        MinForm &drop = *main().minForm;
        QCOMPARE(drop.windowTitle(), QStringLiteral("Zipvane"));
        QCOMPARE(drop.size(), QSize(83, 32));
        QCOMPARE(drop.pos(), QPoint(803, 106));
        QVERIFY(drop.windowFlags().testFlag(Qt::Tool));
        QVERIFY(drop.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(!drop.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QCOMPARE(drop.minimumSize(), drop.maximumSize());
        QCOMPARE(drop.image().pixel(40, 16), qRgb(0, 0, 192));
    }

    // Places in pixels, relative to the widget each control sits in.
    void controlGeometry_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("rect");
        QTest::newRow("WebBrowser1") << "WebBrowser1" << QRect(0, 0, 479, 110);
        QTest::newRow("Frame1") << "Frame1" << QRect(0, 112, 481, 209);
        QTest::newRow("LView") << "LView" << QRect(4, 16, 473, 165);
        QTest::newRow("lblTishi") << "lblTishi" << QRect(8, 184, 465, 17);
        QTest::newRow("SSTab1") << "SSTab1" << QRect(4, 328, 333, 253);
        QTest::newRow("txtInfo") << "txtInfo" << QRect(4, 20, 413, 229);
        QTest::newRow("Pic0") << "Pic0" << QRect(4, 24, 413, 225);
        QTest::newRow("Pic2") << "Pic2" << QRect(4, 24, 413, 225);
        QTest::newRow("txtFile") << "txtFile" << QRect(4, 20, 413, 229);
        QTest::newRow("Frame2") << "Frame2" << QRect(344, 328, 137, 253);
    }
    void controlGeometry()
    {
        QFETCH(QString, name);
        QFETCH(QRect, rect);
        start();
        QWidget *control = main().findChild<QWidget *>(name);
        QVERIFY(control);
        QCOMPARE(control->geometry(), rect);
        // Pages cover the whole tab control, which clips what reaches beyond.
        if (control->parentWidget()->parentWidget() == main().SSTab1)
            QCOMPARE(control->parentWidget()->geometry(), QRect(0, 0, 333, 253));
    }

    void tabsShowOnePage()
    {
        start();
        main().show();
        for (int tab : {1, 2, 0}) {
            main().SSTab1Tabs->setCurrentIndex(tab);
            for (int page = 0; page < 3; ++page)
                QCOMPARE(main().SSTab1Pages[page]->isVisible(), page == tab);
        }
    }

    void loadingTheList()
    {
        QFile partial(dir_->filePath(QStringLiteral("part.bin")));
        QVERIFY(partial.open(QIODevice::WriteOnly));
        partial.write(QByteArray(650, 'x'));
        partial.close();
        QVERIFY(TaskListFile::write(
            listPath(), {record(QStringLiteral("http://h/unfinished"), 1000, 400, partial.fileName()),
                         record(QStringLiteral("http://h/done"), 1000, 999, dir_->filePath("gone")),
                         record(QStringLiteral("http://h/unknown"), 0, 5000)}));
        start();

        QCOMPARE(main().rowCount(), 3);
        QCOMPARE(main().DownTask.upperBound(), 4);
        const QStringList expected[] = {
            {QStringLiteral("http://h/unfinished"), QStringLiteral("1000"), QStringLiteral("650"), "stop"},
            {QStringLiteral("http://h/done"), QStringLiteral("1000"), QStringLiteral("999"), "ok"},
            {QStringLiteral("http://h/unknown"), QStringLiteral("0"), QStringLiteral("5000"), "stop"}};
        for (int row = 1; row <= 3; ++row) {
            const QStringList &e = expected[row - 1];
            QCOMPARE(main().rowUrl(row), e[0]);
            QCOMPARE(main().rowText(row, 1), e[1]);
            QCOMPARE(main().rowText(row, 2), e[2]);
            QCOMPARE(main().rowText(row, 3), QString());
            QCOMPARE(main().rowState(row), e[3]);
            QCOMPARE(main().DownTask(row).Url, e[0]);
        }
        QCOMPARE(main().DownTask(1).GotSize, qint64(650));
        QCOMPARE(main().DownTask(1).FilePath, partial.fileName());
        QCOMPARE(main().DownTask(4).Url, QString());

        main().AddNewUrl(QStringLiteral("http://h/new"));
        QCOMPARE(main().rowCount(), 4);
        QCOMPARE(main().DownTask.upperBound(), 5);
        QCOMPARE(main().DownTask(4).Url, QStringLiteral("http://h/new"));
        QCOMPARE(main().rowText(4, 1), QString());
        QCOMPARE(main().rowState(4), QStringLiteral("stop"));
    }

    // A cut-off last record is ignored, and gone after the next write.
    void partialRecordDropped()
    {
        QVERIFY(TaskListFile::write(listPath(), {record("http://h/1", 0, 0), record("http://h/2", 0, 0)}));
        QFile file(listPath());
        QVERIFY(file.open(QIODevice::Append));
        file.write(QByteArray(32, ' '));
        file.close();
        QCOMPARE(QFileInfo(listPath()).size(), 700);
        start();
        QCOMPARE(main().rowCount(), 2);
        main().close();
        QCOMPARE(QFileInfo(listPath()).size(), 668);
    }

    void addUrlState_data()
    {
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("got");
        QTest::addColumn<QString>("state");
        QTest::newRow("one byte short") << "100" << "99" << "ok";
        QTest::newRow("two bytes short") << "100" << "98" << "stop";
        QTest::newRow("all there") << "100" << "100" << "ok";
        QTest::newRow("size unknown") << "0" << "5000" << "stop";
        QTest::newRow("size empty") << "" << "" << "stop";
        QTest::newRow("size empty, count given") << "" << "7" << "stop";
        QTest::newRow("largest file") << "2147483647" << "2147483646" << "ok";
        QTest::newRow("number then text") << "100 bytes" << "99" << "ok";
        QTest::newRow("text only") << "abc" << "99" << "stop";
    }
    void addUrlState()
    {
        QFETCH(QString, size);
        QFETCH(QString, got);
        QFETCH(QString, state);
        start();
        main().AddUrl(QStringLiteral("http://h/f"), size, got, QStringLiteral("/tmp/f"));
        QCOMPARE(main().rowCount(), 1);
        QCOMPARE(main().rowState(1), state);
        QCOMPARE(main().rowText(1, 1), size);
        QCOMPARE(main().rowText(1, 2), got);
        QCOMPARE(main().rowText(1, 3), QString());
        QCOMPARE(main().LView->topLevelItem(0)->icon(0).pixmap(16).toImage(),
                 stateIcon(state).pixmap(16).toImage());
        QCOMPARE(main().DownTask.upperBound(), 1);   // AddUrl leaves the records alone
        main().AddUrl(QString(), size, got, {});
        QCOMPARE(main().rowCount(), 1);
    }

    void stateIconsDiffer()
    {
        start();
        const QStringList keys{"ok", "stop", "start", "error", "delete"};
        QList<QImage> images;
        for (const QString &key : keys) {
            const QImage image = stateIcon(key).pixmap(16).toImage();
            QCOMPARE(image.size(), QSize(16, 16));
            QVERIFY2(!images.contains(image), qPrintable(key));
            images << image;
        }
    }

    void addNewUrl_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("added");
        QTest::newRow("same text") << "http://h/A.zip" << false;
        QTest::newRow("same as a row marked for deletion") << "http://h/deleted" << false;
        QTest::newRow("letter case differs") << "http://h/a.zip" << true;
        QTest::newRow("trailing blank") << "http://h/A.zip " << true;
        QTest::newRow("trailing line break") << "http://h/A.zip\r\n" << true;
        QTest::newRow("new") << "http://h/B.zip" << true;
    }
    void addNewUrl()
    {
        QFETCH(QString, url);
        QFETCH(bool, added);
        start();
        main().AddNewUrl(QStringLiteral("http://h/deleted"));
        main().AddNewUrl(QStringLiteral("http://h/A.zip"));
        main().setRowState(1, QStringLiteral("delete"));
        QCOMPARE(main().DownTask.upperBound(), 3);

        main().AddNewUrl(url);
        QCOMPARE(main().rowCount(), added ? 3 : 2);
        QCOMPARE(main().DownTask.upperBound(), added ? 4 : 3);
        QCOMPARE(fake_->messages,
                 added ? QStringList() : QStringList{QStringLiteral("该URL已经在下载队列中了！")});
        if (added) {
            QCOMPARE(main().rowUrl(3), url);
            QCOMPARE(main().DownTask(3).Url, url);
            QCOMPARE(main().DownTask(3).FilePath, QString());
            QCOMPARE(main().DownTask(3).ProxyHost, QString());
        }
        main().AddNewUrl(QString());
        QCOMPARE(main().rowCount(), added ? 3 : 2);
        QCOMPARE(fake_->messages.size(), added ? 0 : 1);
    }

    void listIsFullAt32766()
    {
        start();
        for (int i = 1; i <= MaxTasks; ++i)
            addTask(QStringLiteral("http://h/%1").arg(i));
        QCOMPARE(main().rowCount(), MaxTasks);
        main().AddNewUrl(QStringLiteral("http://h/one-more"));
        main().AddUrl(QStringLiteral("http://h/one-more"), {}, {}, {});
        QCOMPARE(main().rowCount(), MaxTasks);
        QCOMPARE(main().DownTask.upperBound(), MaxTasks + 1);
        QVERIFY(fake_->messages.isEmpty());
    }

    void menuDel_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("selected");   // 0: none
        QTest::addColumn<QStringList>("states");
        QTest::newRow("second of three") << 3 << 2 << QStringList{"stop", "delete", "stop"};
        QTest::newRow("nothing selected") << 3 << 0 << QStringList{"stop", "stop", "stop"};
        QTest::newRow("empty list") << 0 << 0 << QStringList{};
    }
    void menuDel()
    {
        QFETCH(int, rows);
        QFETCH(int, selected);
        QFETCH(QStringList, states);
        start();
        for (int i = 1; i <= rows; ++i)
            addTask(QStringLiteral("http://h/%1").arg(i));
        if (selected)
            main().LView->topLevelItem(selected - 1)->setSelected(true);
        QCOMPARE(main().selectedRow(), selected);
        main().menuDel->trigger();
        main().menuDel->trigger();   // marking twice changes nothing
        QStringList actual;
        for (int i = 1; i <= rows; ++i)
            actual << main().rowState(i);
        QCOMPARE(actual, states);
        QCOMPARE(main().rowCount(), rows);
        QCOMPARE(main().DownTask.upperBound(), rows + 1);
    }

    void closing_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QList<int>>("deleted");
        QTest::addColumn<QStringList>("stored");
        QTest::newRow("second of three deleted")
            << 3 << QList<int>{2} << QStringList{"http://h/1", "http://h/3"};
        QTest::newRow("nothing deleted") << 2 << QList<int>{} << QStringList{"http://h/1", "http://h/2"};
        QTest::newRow("all deleted") << 2 << QList<int>{1, 2} << QStringList{};
        QTest::newRow("empty list") << 0 << QList<int>{} << QStringList{};
    }
    void closing()
    {
        QFETCH(int, rows);
        QFETCH(QList<int>, deleted);
        QFETCH(QStringList, stored);
        start();
        main().show();
        for (int i = 1; i <= rows; ++i)
            addTask(QStringLiteral("http://h/%1").arg(i));
        for (int row : deleted)
            main().setRowState(row, QStringLiteral("delete"));
        if (rows)
            main().DownTask(1).ProxyHost = QStringLiteral("proxy");

        main().menuquit->trigger();
        QCOMPARE(fake_->endCalls, 1);
        QVERIFY(!main().isVisible());
        QCOMPARE(QFileInfo(listPath()).size(), qint64(stored.size()) * TaskListFile::RecordSize);
        QCOMPARE(urlsIn(listPath()), stored);
        if (!stored.isEmpty() && !deleted.contains(1))
            QCOMPARE(TaskListFile::read(listPath()).records.first().ProxyHost, QStringLiteral("proxy"));

        // However the run ends, the list is written once: a later session
        // end does not write it again.
        QFile::remove(listPath());
        QVERIFY(QMetaObject::invokeMethod(qApp, "aboutToQuit", Qt::DirectConnection));
        QVERIFY(!QFileInfo::exists(listPath()));
    }

    // A list that exists but cannot be read is left alone at exit.
    void unreadableList_data()
    {
        QTest::addColumn<bool>("asDirectory");
        QTest::newRow("a folder in its place") << true;
        QTest::newRow("no permission to read") << false;
    }
    void unreadableList()
    {
        QFETCH(bool, asDirectory);
        QByteArray before;
        if (asDirectory) {
            QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("Zipvane.zvt")));
        } else {
            if (geteuid() == 0)
                QSKIP("permissions do not keep root from reading");
            QVERIFY(TaskListFile::write(listPath(), {record("http://h/kept", 0, 0)}));
            QFile file(listPath());
            QVERIFY(file.open(QIODevice::ReadOnly));
            before = file.readAll();
            file.close();
            QVERIFY(file.setPermissions(QFileDevice::WriteOwner));
        }
        start();
        QCOMPARE(main().rowCount(), 0);
        QVERIFY(main().logText().startsWith(QStringLiteral("任务列表文件无法读取：") + listPath()));
        QVERIFY(main().logText().endsWith(QStringLiteral("\r\n")));
        addTask(QStringLiteral("http://h/new"));
        main().close();
        QCOMPARE(fake_->endCalls, 1);
        if (asDirectory) {
            QVERIFY(QFileInfo(listPath()).isDir());
        } else {
            QFile file(listPath());
            QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), before);
        }
    }

    void log()
    {
        start();
        main().appendLog(QStringLiteral("开始下载：http://h/a"));
        main().appendLog(QString());
        main().appendLog(QStringLiteral("200"));
        QCOMPARE(main().logText(), QStringLiteral("开始下载：http://h/a\r\n\r\n200\r\n"));
    }

    void minimizingShowsDropWindow()
    {
        start();
        main().show();
        QVERIFY(QTest::qWaitForWindowExposed(&main()));
        main().minForm->close();
        QVERIFY(!main().minForm->isVisible());
        main().showNormal();
        QVERIFY(!main().minForm->isVisible());
        main().showMinimized();
        QVERIFY(main().minForm->isVisible());
    }

    void dropWindowKeepsDots()
    {
        start();
        MinForm &drop = *main().minForm;
        main().drawMinFormDot(120, 180, 50, qRgb(255, 0, 0));
        QCOMPARE(drop.image().pixel(8, 12), qRgb(255, 0, 0));
        QCOMPARE(drop.image().pixel(60, 12), qRgb(0, 0, 192));
        const QImage before = drop.image();
        drop.hide();
        drop.show();
        QCOMPARE(drop.grab().toImage().convertToFormat(QImage::Format_RGB32), before);
    }

    // Both drop targets hand over plain text, and nothing else.
    void dropTargets_data()
    {
        QTest::addColumn<bool>("onList");
        QTest::addColumn<bool>("files");
        QTest::newRow("text on the list") << true << false;
        QTest::newRow("files on the list") << true << true;
        QTest::newRow("text on the drop window") << false << false;
        QTest::newRow("files on the drop window") << false << true;
    }
    void dropTargets()
    {
        QFETCH(bool, onList);
        QFETCH(bool, files);
        start();
        QWidget *target = onList ? main().LView->viewport() : static_cast<QWidget *>(main().minForm);
        QSignalSpy spy(onList ? static_cast<QObject *>(main().LView) : main().minForm,
                       SIGNAL(textDropped(QString)));
        QMimeData data;
        if (files)
            data.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.txt"))});
        else
            data.setText(QStringLiteral("http://h/x "));
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        QCOMPARE(enter.isAccepted(), !files);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);
        QCOMPARE(spy.count(), files ? 0 : 1);
        if (!files)
            QCOMPARE(spy.first().first().toString(), QStringLiteral("http://h/x "));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
