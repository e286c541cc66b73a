// What the main window shows before any task exists: the drop window first,
// the columns and the help text, and every control at its fixed place; and
// a task list it cannot read, which it reports and never writes over.
#include "support/fakeseams.h"
#include "widgets/minform.h"
#include "widgets/tasklistview.h"
#include "window/frmadd.h"
#include "window/frmdown.h"

#include <QtTest>
#include <QtWidgets>

class TestMainWindow : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::shared_ptr<FakeSeamsState> fake_ = std::make_shared<FakeSeamsState>();

    // "name x,y wxh" for `top` (its size; a window's place on screen too) and
    // every named control in it, sorted.
    static QStringList places(QWidget *top)
    {
        QStringList lines;
        QList<QWidget *> all = top->findChildren<QWidget *>();
        for (QWidget *w : all << top) {
            const QRect r = w != top ? w->geometry()
                                     : QRect(top->isWindow() ? top->pos() : QPoint(), top->size());
            if (!w->objectName().isEmpty() && !w->objectName().startsWith("qt_")
                && !qobject_cast<QTabBar *>(w->parentWidget()))
                lines << QString::asprintf("%s %d,%d %dx%d", qPrintable(w->objectName()), r.x(),
                                           r.y(), r.width(), r.height());
        }
        lines.sort();
        return lines;
    }

private Q_SLOTS:
    void startUp()
    {
        frmDown m(fakeSeams(fake_), dir_.path());
        QVERIFY(m.minForm()->isVisible() && !m.isVisible());  // the drop window comes first
        QStringList columns;
        for (int c = 0; c < m.ui().LView->columnCount(); ++c)
            columns << m.ui().LView->headerItem()->text(c) + " "
                           + QString::number(m.ui().LView->columnWidth(c));
        QCOMPARE(columns.join(" | "), "URL地址 233 | 大小 80 | 已下载大小 80 | 时间 80");
        QCOMPARE(m.ui().Text1->toPlainText(),
                 "     功能\n1.同时下载两个文件\n2.支持断点续传\n"
                 "3.支持代理服务器\n      \n\n      使用\n"
                 "1.双击开始或停止\n2.其他按鼠标右键\n3.支持代理服务器\n");
        m.show();
        m.minForm()->close();
        m.showMinimized();  // brings the drop window back, whoever closed it
        QVERIFY(m.minForm()->isVisible());

        // Every control of both windows, and the drop window, where the twips
        // put them: on a mismatch the message lists them all.
        frmAdd add(m);
        const QString all
            = (places(m.centralWidget()) + places(m.minForm()) + places(&add)).join('\n');
        const QByteArray digest = QCryptographicHash::hash(all.toUtf8(), QCryptographicHash::Sha1);
        QVERIFY2(digest.toHex().startsWith("16badc4cd6d4"), qPrintable(all));
    }

    // The log says so, and closing neither writes nor warns of a failed write.
    void unreadableList()
    {
        const QString list = dir_.filePath("unreadable/Zipvane.zvt");
        QVERIFY(QDir().mkpath(list));
        frmDown m(fakeSeams(fake_), dir_.filePath("unreadable"));
        QVERIFY(m.logText().startsWith("任务列表文件无法读取：" + list));
        m.AddNewUrl("http://h/1");
        QTest::failOnWarning(QRegularExpression("task list could not be written"));
        m.close();
        QVERIFY(fake_->endCalls == 1 && QFileInfo(list).isDir());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
