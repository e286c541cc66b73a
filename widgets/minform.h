#pragma once
// MinForm: the small always-on-top drop window. It keeps the activity dots
// drawn on it in an image, so they survive being covered.
#include <QImage>
#include <QWidget>

class MinForm : public QWidget {
    Q_OBJECT
public:
    explicit MinForm(QWidget *parent = nullptr);

    // A circle in the window's twips, filled with `fill`, outlined in black.
    void drawCircle(int xTwips, int yTwips, int radiusTwips, QRgb fill);
    const QImage &image() const { return image_; }

Q_SIGNALS:
    void dblClick();
    void textDropped(const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    QImage image_;
};
