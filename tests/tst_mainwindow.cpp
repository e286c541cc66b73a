// What the main window shows before any task exists: the drop window first
// and again on minimizing, the columns, every control at its fixed place,
// Qt's texts in Chinese.
#include "support/fakeseams.h"
#include "widgets/minform.h"
#include "widgets/tasklistview.h"
#include "window/frmadd.h"
#include "window/frmdown.h"
#include "window/qttranslations.h"

#include <QtTest>
#include <QtWidgets>

class TestMainWindow : public QObject {
    Q_OBJECT

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
        QTemporaryDir dir;
        frmDown m(fakeSeams(std::make_shared<FakeSeamsState>()), dir.path());
        QVERIFY(m.minForm()->isVisible() && !m.isVisible());  // the drop window comes first
        QStringList columns;
        for (int c = 0; c < m.ui().LView->columnCount(); ++c)
            columns << m.ui().LView->headerItem()->text(c) + " "
                           + QString::number(m.ui().LView->columnWidth(c));
        QCOMPARE(
            columns.join(" | "),
            "URL地址 233 | 大小 80 | 已下载大小 80 | 时间 80 | 进度 70 | 速度 70 | 剩余时间 70");
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

    // Qt's own buttons speak Chinese as the rest does.
    void qtTexts()
    {
        QVERIFY(loadChineseQtTranslations(*qApp));
        QMessageBox box(QMessageBox::Question, "Zipvane", "?",
                        QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(box.button(QMessageBox::Ok)->text() + box.button(QMessageBox::Cancel)->text(),
                 "确定取消");
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
