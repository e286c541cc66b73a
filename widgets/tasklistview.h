#pragma once
// LView: the report-style task list. It reports double-clicks, mouse
// releases and dropped text; the window's handlers act on them.
#include <QTreeWidget>

class TaskListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit TaskListView(QWidget *parent = nullptr);

Q_SIGNALS:
    void dblClick();
    void mouseUp(Qt::MouseButton button, const QPoint &globalPos);
    void textDropped(const QString &text);

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
};
