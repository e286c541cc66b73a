#pragma once
// Pic(i): one block-map panel. It draws into an image it keeps and paints
// that image, so the map survives being covered, hidden or its tab left.
// It is never smaller than the designed panel; a larger one shows more rows.
#include <QImage>
#include <QWidget>

class QPainter;

class BlockMapPanel : public QWidget {
    Q_OBJECT
public:
    explicit BlockMapPanel(QWidget *parent = nullptr);

    // Clears the panel to its background.
    void Cls();
    // Draws the circles of blocks first..last, white with a black outline
    // (missing) or blue with a red outline (received). Blocks that lie wholly
    // outside the panel are left out: the picture is the same either way.
    void drawBlocks(qint64 first, qint64 last, bool received);

    const QImage &image() const { return image_; }

    static QColor background();
    // Paints blocks first..last onto `image`, every one of them, in the
    // panel's scale. drawBlocks uses it; tests draw references with it.
    static void paintBlocks(QImage &image, qint64 first, qint64 last, bool received);

Q_SIGNALS:
    // The panel has grown: what now shows below the old edge must be drawn.
    void grown();

protected:
    void paintEvent(QPaintEvent *event) override;
    // A taller panel shows more rows of the same circles; what is drawn stays.
    void resizeEvent(QResizeEvent *event) override;

private:
    // The image as large as the panel, what was drawn kept.
    void fitImage();
    QImage image_;
    bool needsRedraw_ = false;  // grown since it was last drawn whole
};
