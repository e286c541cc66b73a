// links: window
// The block map: where circles go, which colours they take, what an arrival
// counts into its task, which panel shows, and that the map is kept.
#include "app/frmdown.h"
#include "display/blockmapgeometry.h"
#include "display/blockmappanel.h"
#include "support/fakeseams.h"

#include <QTabBar>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QRgb White = qRgb(255, 255, 255);
const QRgb Blue = qRgb(0, 0, 255);
const QRgb Red = qRgb(255, 0, 0);
const QRgb Black = qRgb(0, 0, 0);

QPoint centrePixel(qint64 block)
{
    const QPoint twips = BlockMap::blockCentre(block);
    return QPoint(twips.x() / BlockMap::TwipsPerPixel, twips.y() / BlockMap::TwipsPerPixel);
}

QRgb fillOf(const QImage &image, qint64 block)
{
    return image.pixel(centrePixel(block));
}

// The first colour above the centre that differs from the fill: the outline.
QRgb outlineOf(const QImage &image, qint64 block)
{
    QPoint p = centrePixel(block);
    const QRgb fill = image.pixel(p);
    while (p.y() > 0 && image.pixel(p) == fill)
        p.ry() -= 1;
    return image.pixel(p);
}

enum class Circle { None, Missing, Received };

Circle circleAt(const QImage &image, qint64 block)
{
    const QRgb fill = fillOf(image, block);
    if (fill == White && outlineOf(image, block) == Black)
        return Circle::Missing;
    if (fill == Blue && outlineOf(image, block) == Red)
        return Circle::Received;
    return Circle::None;
}

} // namespace

class TestBlockMap : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::shared_ptr<FakeSeamsState> fake_;
    std::unique_ptr<frmDown> main_;

    frmDown &main() { return *main_; }

private Q_SLOTS:
    void init()
    {
        fake_ = std::make_shared<FakeSeamsState>();
        main_ = std::make_unique<frmDown>(fakeSeams(fake_), dir_.path());
    }
    void cleanup()
    {
        main_.reset();
        QFile::remove(dir_.filePath(QStringLiteral("Zipvane.zvt")));
    }

    void geometry_data()
    {
        QTest::addColumn<qint64>("block");
        QTest::addColumn<QPoint>("centre");
        QTest::newRow("first") << qint64(1) << QPoint(120, 100);
        QTest::newRow("last of row 1") << qint64(50) << QPoint(6000, 100);
        QTest::newRow("first of row 2") << qint64(51) << QPoint(120, 220);
        QTest::newRow("last seen row") << qint64(1400) << QPoint(6000, 3340);
        QTest::newRow("first row below the panel") << qint64(1401) << QPoint(120, 3460);
        QTest::newRow("last of a 2 GiB file") << qint64(524287) << QPoint(120 * 37, 100 + 120 * 10485);
    }
    void geometry()
    {
        QFETCH(qint64, block);
        QFETCH(QPoint, centre);
        QCOMPARE(BlockMap::blockCentre(block), centre);
        const bool seen = centre.y() - BlockMap::RadiusTwips
                          < BlockMap::PanelHeightPx * BlockMap::TwipsPerPixel;
        QCOMPARE(block <= BlockMap::lastVisibleBlock(), seen);
    }

    // What one DrawDownPic call leaves on a cleared panel, and in the task.
    void drawing_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<qint64>("mNum");
        QTest::addColumn<qint64>("mFlen");
        QTest::addColumn<qint64>("receiveBytes");
        QTest::addColumn<int>("white");        // blocks 1..white missing
        QTest::addColumn<QList<qint64>>("blue");
        QTest::addColumn<QString>("column");   // "已下载大小" of row 1 afterwards

        QTest::newRow("10000 bytes: two circles") << 0 << qint64(0) << qint64(10000) << qint64(0)
                                                  << 2 << QList<qint64>{} << QStringLiteral("100");
        QTest::newRow("redraw of a task not running")
            << 0 << qint64(0) << qint64(40960) << qint64(20480) << 10
            << QList<qint64>{1, 2, 3, 4, 5} << QStringLiteral("100");
        QTest::newRow("later arrival fills only what it completed")
            << 1 << qint64(1000) << qint64(0) << qint64(8000) << 0 << QList<qint64>{2}
            << QStringLiteral("9000");
        QTest::newRow("first arrival draws the grid")
            << 1 << qint64(9000) << qint64(20000) << qint64(0) << 4 << QList<qint64>{1, 2}
            << QStringLiteral("9000");
        QTest::newRow("unknown length: no grid, received blocks still blue")
            << 2 << qint64(0) << qint64(0) << qint64(12288) << 0 << QList<qint64>{1, 2, 3}
            << QStringLiteral("100");
        QTest::newRow("shorter than a block: nothing") << 0 << qint64(0) << qint64(4095)
                                                       << qint64(4095) << 0 << QList<qint64>{}
                                                       << QStringLiteral("100");
    }
    void drawing()
    {
        QFETCH(int, index);
        QFETCH(qint64, mNum);
        QFETCH(qint64, mFlen);
        QFETCH(qint64, receiveBytes);
        QFETCH(int, white);
        QFETCH(QList<qint64>, blue);
        QFETCH(QString, column);

        main().AddUrl(QStringLiteral("http://h/a"), QStringLiteral("0"), QStringLiteral("100"), {});
        main().DownTask(main().DownTask.appendSpare()).GotSize = 100;
        if (index > 0)
            main().engine().Down(index)->WhichDown = 1;

        main().Pic[index]->Cls();
        main().DrawDownPic(index, mNum, mFlen, receiveBytes);

        const QImage &image = main().Pic[index]->image();
        for (qint64 k = 1; k <= 60; ++k) {
            Circle expected = Circle::None;
            if (blue.contains(k))
                expected = Circle::Received;
            else if (k <= white)
                expected = Circle::Missing;
            QVERIFY2(circleAt(image, k) == expected, qPrintable(QStringLiteral("block %1").arg(k)));
        }
        QCOMPARE(main().rowText(1, 2), column);
        QCOMPARE(main().DownTask(1).GotSize, qint64(100) + mNum);
        QImage blank(image.size(), QImage::Format_RGB32);
        blank.fill(BlockMapPanel::background());
        for (int other = 0; other < 3; ++other) {
            if (other != index)
                QCOMPARE(main().Pic[other]->image(), blank);
        }
    }

    void outlineColours()
    {
        BlockMapPanel &panel = *main().Pic[0];
        main().DrawDownPic(0, 0, 51 * 4096, 50 * 4096);
        const QImage &image = panel.image();
        QCOMPARE(fillOf(image, 50), Blue);
        QCOMPARE(outlineOf(image, 50), Red);
        QCOMPARE(fillOf(image, 51), White);
        QCOMPARE(outlineOf(image, 51), Black);
        QCOMPARE(fillOf(image, 52), qRgb(192, 192, 192));
    }

    void mapSurvivesBeingHidden()
    {
        main().show();
        main().SSTab1Tabs->setCurrentIndex(1);
        main().DrawDownPic(0, 0, 40960, 20480);
        const QImage before = main().Pic[0]->image();
        main().SSTab1Tabs->setCurrentIndex(0);
        main().PicVisible(1);
        main().hide();
        main().show();
        main().SSTab1Tabs->setCurrentIndex(1);
        main().PicVisible(0);
        QCOMPARE(main().Pic[0]->image(), before);
        // What the panel paints is the image it keeps.
        QCOMPARE(main().Pic[0]->grab().toImage().convertToFormat(QImage::Format_RGB32), before);
    }

    void picVisible_data()
    {
        QTest::addColumn<int>("index");
        QTest::newRow("0") << 0;
        QTest::newRow("1") << 1;
        QTest::newRow("2") << 2;
    }
    void picVisible()
    {
        QFETCH(int, index);
        main().show();
        main().SSTab1Tabs->setCurrentIndex(1);
        main().PicVisible(index);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(main().Pic[i]->isVisible(), i == index);
    }

    // The largest file's map: drawing only what can be seen gives the same
    // picture as drawing every circle down to well below the panel.
    void largestFileDrawsOnlyWhatShows()
    {
        main().Pic[0]->Cls();
        main().DrawDownPic(0, 0, 2147483647, 2147483647);
        QImage reference(main().Pic[0]->size(), QImage::Format_RGB32);
        reference.fill(BlockMapPanel::background());
        BlockMapPanel::paintBlocks(reference, 1, 1600, false);
        BlockMapPanel::paintBlocks(reference, 1, 1600, true);
        QCOMPARE(main().Pic[0]->image(), reference);

        main().Pic[0]->Cls();
        main().DrawDownPic(0, 0, 2147483647, 1000 * 4096 + 5);
        reference.fill(BlockMapPanel::background());
        BlockMapPanel::paintBlocks(reference, 1, 1600, false);
        BlockMapPanel::paintBlocks(reference, 1, 1000, true);
        QCOMPARE(main().Pic[0]->image(), reference);
        QVERIFY(circleAt(reference, 1000) == Circle::Received);
        QVERIFY(circleAt(reference, 1001) == Circle::Missing);
    }
};

QTEST_MAIN(TestBlockMap)
#include "tst_blockmap.moc"
