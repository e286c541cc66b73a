#pragma once
// Shape1: the legend's mark, drawn as a received block of the map.
#include <QWidget>

class LegendMark : public QWidget {
    Q_OBJECT
public:
    explicit LegendMark(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
