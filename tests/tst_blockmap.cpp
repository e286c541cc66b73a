// The block map: where circles go, which colours they take, what an arrival
// counts into its task, which panel shows, and that the map is kept.
#include "window/frmdown.h"
#include "widgets/blockmappanel.h"
#include "support/fakeseams.h"

#include <QTabBar>
#include <QtTest>

// Reads block k's circle back from the picture, placed by hand (50 to a row,
// 120 twips apart, first centre at 120/100 twips, 15 twips to a pixel):
// 'B' received (blue, red outline), 'W' missing (white, black outline), '.' none.
static QChar circleAt(const QImage &image, int k)
{
    QPoint p(120 * ((k - 1) % 50 + 1) / 15, (100 + 120 * ((k - 1) / 50)) / 15);
    const QRgb fill = image.pixel(p);
    while (p.y() > 0 && image.pixel(p) == fill)
        p.ry() -= 1;
    const QRgb outline = image.pixel(p);
    return fill == qRgb(0, 0, 255) && outline == qRgb(255, 0, 0)         ? 'B'
           : fill == qRgb(255, 255, 255) && outline == qRgb(0, 0, 0) ? 'W' : '.';
}

class TestBlockMap : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<frmDown> m_;

private Q_SLOTS:
    void init() { m_ = std::make_unique<frmDown>(fakeSeams(std::make_shared<FakeSeamsState>()), dir_.path()); }
    void cleanup() { m_.reset(); }

    // What one DrawDownPic(index, mNum, mFlen, ReceiveBytes) call leaves on a
    // blank panel, and in row 1 (which starts with 100 bytes). `map` holds
    // blocks 1.. as circleAt reads them.
    void drawing_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QList<qint64>>("call");
        QTest::addColumn<QString>("map");
        QTest::addColumn<QString>("column");
        QTest::newRow("10000 bytes: two circles") << 0 << QList<qint64>{0, 10000, 0} << "WW" << "100";
        QTest::newRow("rows of 50") << 0 << QList<qint64>{0, 51 * 4096, 50 * 4096} << QString(50, 'B') + "W" << "100";
        QTest::newRow("first arrival draws the grid") << 1 << QList<qint64>{9000, 20000, 0} << "BBWW" << "9000";
        QTest::newRow("later arrival fills what it completed") << 1 << QList<qint64>{1000, 0, 8000} << ".B" << "9000";
    }
    void drawing()
    {
        QFETCH(int, index);
        QFETCH(QList<qint64>, call);
        QFETCH(QString, map);
        QFETCH(QString, column);
        m_->AddUrl("http://h/a", "0", "100", {});
        m_->DownTask(m_->DownTask.appendSpare()).GotSize = 100;
        m_->engine().Down(1)->WhichDown = 1;   // a download runs on row 1 throughout
        m_->DrawDownPic(index, call[0], call[1], call[2]);
        QString seen;
        for (int k = 1; k <= 60; ++k)
            seen += circleAt(m_->Pic[index]->image(), k);
        QCOMPARE(seen, map.leftJustified(60, '.'));
        QCOMPARE(m_->rowText(1, 2), column);
        QCOMPARE(m_->DownTask(1).GotSize, 100 + call[0]);
    }

    // The largest file's map: drawing only what can be seen gives the same
    // picture as drawing every circle down to well below the panel. The map
    // stays through switching panels, of which only one shows, and hiding.
    void largestFileMapIsKept()
    {
        m_->show();
        m_->SSTab1Tabs->setCurrentIndex(1);
        m_->DrawDownPic(0, 0, 2147483647, 2147483647);
        QImage reference(m_->Pic[0]->size(), QImage::Format_RGB32);
        reference.fill(BlockMapPanel::background());
        BlockMapPanel::paintBlocks(reference, 1, 1600, true);
        for (int index : {1, 2, 0}) {
            m_->PicVisible(index);
            for (int i = 0; i < 3; ++i)
                QCOMPARE(m_->Pic[i]->isVisible(), i == index);
        }
        m_->hide();
        m_->show();
        QCOMPARE(m_->Pic[0]->grab().toImage().convertToFormat(QImage::Format_RGB32), reference);
    }
};

QTEST_MAIN(TestBlockMap)
#include "tst_blockmap.moc"