// The block map as the panel paints it: one circle per whole 4096 bytes, 50 to
// a row, blue with a red outline once received, white with a black one while
// missing; and the downloaded count an arrival shows in its row.
#include "support/fakeseams.h"
#include "widgets/blockmappanel.h"
#include "window/frmdown.h"

#include <QtTest>

// Reads block k's circle back from the picture, placed by hand (50 to a row,
// 120 twips apart, first centre at 120/100 twips, 15 twips to a pixel):
// 'B' received, 'W' missing, '.' no circle.
static QChar circleAt(const QImage &image, int k)
{
    QPoint p(120 * ((k - 1) % 50 + 1) / 15, (100 + 120 * ((k - 1) / 50)) / 15);
    const QRgb fill = image.pixel(p);
    while (p.y() > 0 && image.pixel(p) == fill)
        p.ry() -= 1;
    const QString colours = QColor(fill).name() + QColor(image.pixel(p)).name();
    return colours == "#0000ff#ff0000" ? 'B' : colours == "#ffffff#000000" ? 'W' : '.';
}

// DrawDownPic(1, mNum, mFlen, ReceiveBytes) for each of `calls`, on a blank
// panel; `map` holds blocks 1.. as circleAt reads them, '.' beyond; `column`
// is row 1's "已下载大小" ("100" before), the row of slot 1's session.
struct MapCase {
    QList<std::array<qint64, 3>> calls;
    QString map, column;
};
Q_DECLARE_METATYPE(MapCase)

class TestBlockMap : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void drawing_data()
    {
        QTest::addColumn<MapCase>("c");
        const qint64 max = 2147483647;
        // Whole blocks only; a later arrival adds its own, whatever length it gives.
        QTest::newRow("arrivals") << MapCase{{{9000, 20000, 0}, {4000, 0, 9000}}, "BBBW", "13000"};
        QTest::newRow("redraw clears, 50 a row") << MapCase{
            {{0, 60 << 12, 60 << 12}, {0, 51 << 12, 50 << 12}}, QString(50, 'B') + 'W', "100"};
        // 28 rows fit the panel: whole, however much of the map lies below.
        QTest::newRow("largest file") << MapCase{{{0, max, max}}, QString(1400, 'B'), "100"};
    }
    void drawing()
    {
        QFETCH(MapCase, c);
        QTemporaryDir dir;
        frmDown m(fakeSeams(std::make_shared<FakeSeamsState>()), dir.path());
        m.AddUrl("http://h/a", "0", "100", {});
        m.engine().Down(1)->WhichDown = 1;
        for (const auto &[mNum, mFlen, ReceiveBytes] : c.calls)
            m.DrawDownPic(1, mNum, mFlen, ReceiveBytes);
        const QImage painted = m.ui().Pic[1]->grab().toImage();
        QString seen;
        for (int k = 1; k <= qMax(60, int(c.map.size())); ++k)
            seen += circleAt(painted, k);
        QCOMPARE(seen, c.map.leftJustified(seen.size(), '.'));
        QCOMPARE(m.rowText(1, 2), c.column);
    }
};

QTEST_MAIN(TestBlockMap)
#include "tst_blockmap.moc"
