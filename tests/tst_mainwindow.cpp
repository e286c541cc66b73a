// The main window: its layout and menus, the task list read at start-up and
// written at the end, task rows and their states, deleting, the drop window.
#include "window/frmdown.h"
#include "window/portal.h"
#include "widgets/stateicons.h"
#include "tasks/tasklistfile.h"
#include "widgets/tasklistview.h"
#include "support/fakeseams.h"
#include "widgets/minform.h"

#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QtTest>

class TestMainWindow : public QObject {
    Q_OBJECT

    std::optional<QTemporaryDir> dir_;
    std::shared_ptr<FakeSeamsState> fake_;
    std::unique_ptr<frmDown> m_;

    QString listPath() const { return dir_->filePath("Zipvane.zvt"); }
    frmDown &start() { return *(m_ = std::make_unique<frmDown>(fakeSeams(fake_), dir_->path())); }
    void addTasks(int count) { for (int i = 1; i <= count; ++i) m_->AddNewUrl(QString("http://h/%1").arg(i)); }

private Q_SLOTS:
    void init() { dir_.emplace(), fake_ = std::make_shared<FakeSeamsState>(); }
    void cleanup() { m_.reset(), dir_.reset(); }

    void startUp()
    {
        frmDown &m = start();
        QCOMPARE(m.windowTitle(), QString("迅羽 2007 - 极速下载器"));
        QVERIFY(m.SelRow == -1 && m.minForm->isVisible());   // the drop window before the main window shows
        QCOMPARE(m.Text1->toPlainText(), QString("     功能\n1.同时下载两个文件\n2.支持断点续传\n3.支持代理服务器\n      \n\n      使用\n1.双击开始或停止\n2.其他按鼠标右键\n3.支持代理服务器\n"));
        QStringList columns, menus;
        for (int c = 0; c < m.LView->columnCount(); ++c) columns << m.LView->headerItem()->text(c) + " " + QString::number(m.LView->columnWidth(c));
        QCOMPARE(columns, QStringList({"URL地址 233", "大小 80", "已下载大小 80", "时间 80"}));
        QCOMPARE(m.SSTab1Tabs->tabText(0) + "|" + m.SSTab1Tabs->tabText(1) + "|" + m.SSTab1Tabs->tabText(2), QString("信息提示|下载情况|文件信息"));
        for (const QAction *top : m.menuBar()->actions()) {
            menus << top->text();
            for (const QAction *item : top->menu()->actions()) menus << "  " + item->text();
        }
        QCOMPARE(menus, QStringList({"文件", "  加入新任务", "  退出", "设置", "  删除", "帮助", "  " + PortalName}));
        m.show();
        // Places in pixels, relative to the widget each control sits in.
        QCOMPARE(m.centralWidget()->size(), QSize(483, 584));
        QCOMPARE(QRect(m.minForm->pos(), m.minForm->size()), QRect(803, 106, 83, 32));
        const std::pair<QString, QRect> places[] = {{"WebBrowser1", QRect(0, 0, 479, 110)}, {"Frame1", QRect(0, 112, 481, 209)}, {"LView", QRect(4, 16, 473, 165)},
                                                    {"SSTab1", QRect(4, 328, 333, 253)}, {"Pic0", QRect(4, 24, 413, 225)}, {"Frame2", QRect(344, 328, 137, 253)}};
        for (const auto &[name, rect] : places) QCOMPARE(std::pair(name, m.findChild<QWidget *>(name)->geometry()), std::pair(name, rect));
        // Minimizing brings the drop window back, whoever closed it.
        m.minForm->close(), m.showMinimized();
        QVERIFY(m.minForm->isVisible());
    }

    // An unfinished task counts what its local file holds; a cut-off last
    // record is ignored, and gone after the next write. A list that exists but
    // cannot be read is reported, and not written over at exit (the write is
    // not even tried, so nothing warns of it failing).
    void loadingTheList()
    {
        const auto rec = [](const QString &url, const QString &path, qint64 size, qint64 got) { return TaskRecord{0, url, path, size, got, 0, {}, 0, {}, {}}; };
        QFile part(dir_->filePath("part.bin"));
        QVERIFY(part.open(QIODevice::WriteOnly) && part.write(QByteArray(650, 'x')) == 650 && part.flush());
        QVERIFY(TaskListFile::write(listPath(), {rec("http://h/1", part.fileName(), 1000, 400), rec("http://h/2", dir_->filePath("gone"), 1000, 999), rec("http://h/3", {}, 0, 5000)}));
        frmDown &m = start();
        QStringList rows;
        for (int r = 1; r <= m.rowCount(); ++r) rows << QStringList{m.rowUrl(r), m.rowText(r, 1), m.rowText(r, 2), m.rowText(r, 3), m.rowState(r), m.DownTask(r).Url, QString::number(m.DownTask(r).GotSize)}.join('|');
        QCOMPARE(rows, QStringList({"http://h/1|1000|650||stop|http://h/1|650", "http://h/2|1000|999||ok|http://h/2|999", "http://h/3|0|5000||stop|http://h/3|5000"}));
        // 700 bytes: two whole records and the start of the third.
        QVERIFY(QFile::resize(listPath(), 700));
        QCOMPARE(start().rowCount(), 2);
        m_->close();
        QCOMPARE(QFileInfo(listPath()).size(), 2 * TaskListFile::RecordSize);
        QVERIFY(QFile::remove(listPath()) && QDir(dir_->path()).mkdir("Zipvane.zvt"));
        QVERIFY(start().logText().startsWith("任务列表文件无法读取：" + listPath()) && m_->logText().endsWith("\r\n"));
        addTasks(1);
        QTest::failOnWarning(QRegularExpression("task list could not be written"));
        const int ends = fake_->endCalls;
        m_->close();
        QVERIFY(fake_->endCalls == ends + 1 && QFileInfo(listPath()).isDir());
    }

    void addUrlState_data()
    {
        QTest::addColumn<QStringList>("sizeGotState");
        QTest::newRow("two bytes short") << QStringList{"100", "98", "stop"};
        QTest::newRow("largest file") << QStringList{"2147483647", "2147483646", "ok"};
        QTest::newRow("number then text") << QStringList{"100 bytes", "99", "ok"};
    }
    void addUrlState()
    {
        QFETCH(QStringList, sizeGotState);
        frmDown &m = start();
        m.AddUrl("http://h/f", sizeGotState[0], sizeGotState[1], "/tmp/f");
        m.AddUrl(QString(), sizeGotState[0], sizeGotState[1], {});   // no address, no row
        QCOMPARE(m.rowCount(), 1);
        QCOMPARE(QStringList({m.rowText(1, 1), m.rowText(1, 2), m.rowState(1), m.rowText(1, 3)}), sizeGotState << "");
        QCOMPARE(m.LView->topLevelItem(0)->icon(0).pixmap(16).toImage(), stateIcon(sizeGotState[2]).pixmap(16).toImage());
    }

    // Row 1 "http://h/deleted" is marked for deletion, row 2 is "http://h/A.zip".
    void addNewUrl_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("added");
        QTest::newRow("same text") << "http://h/A.zip" << false;
        QTest::newRow("same as a row marked for deletion") << "http://h/deleted" << false;
        QTest::newRow("letter case differs") << "http://h/a.zip" << true;
        QTest::newRow("trailing blank") << "http://h/A.zip " << true;
    }
    void addNewUrl()
    {
        QFETCH(QString, url);
        QFETCH(bool, added);
        frmDown &m = start();
        for (const QString &u : {QStringLiteral("http://h/deleted"), QStringLiteral("http://h/A.zip")}) m.AddNewUrl(u);
        m.setRowState(1, "delete");
        m.AddNewUrl(url);
        QCOMPARE(fake_->messages, added ? QStringList() : QStringList{"该URL已经在下载队列中了！"});
        QCOMPARE(QString::number(m.rowCount()) + m.rowUrl(3) + m.DownTask(3).Url, added ? "3" + url + url : "2");
    }

    // The selected row (0: none) is marked for deletion through the menu;
    // closing then keeps the other rows, in order, and ends once.
    void deletingAndClosing_data()
    {
        QTest::addColumn<QList<int>>("rowsSelected");
        QTest::addColumn<QStringList>("stored");
        QTest::newRow("second of three") << QList{3, 2} << QStringList{"http://h/1", "http://h/3"};
        QTest::newRow("nothing selected") << QList{3, 0} << QStringList{"http://h/1", "http://h/2", "http://h/3"};
        QTest::newRow("empty list") << QList{0, 0} << QStringList{};
    }
    void deletingAndClosing()
    {
        QFETCH(QList<int>, rowsSelected);
        QFETCH(QStringList, stored);
        const int rows = rowsSelected[0], selected = rowsSelected[1];
        frmDown &m = start();
        addTasks(rows);
        if (selected) m.LView->topLevelItem(selected - 1)->setSelected(true);
        m.menuDel->trigger();
        for (int r = 1; r <= rows; ++r) QCOMPARE(m.rowState(r), r == selected ? "delete" : "stop");
        m.menuquit->trigger();
        QCOMPARE(fake_->endCalls, 1);
        QCOMPARE(QFileInfo(listPath()).size(), stored.size() * TaskListFile::RecordSize);
        QStringList urls;
        for (const TaskRecord &r : TaskListFile::read(listPath()).records) urls << r.Url;
        QCOMPARE(urls, stored);
        // Written once: the session ending later does not write it again.
        QVERIFY(QFile::remove(listPath()) && QMetaObject::invokeMethod(qApp, "aboutToQuit", Qt::DirectConnection) && !QFileInfo::exists(listPath()));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
