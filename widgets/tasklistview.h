#pragma once
// LView: the report-style task list. It reports double-clicks, Enter and
// Delete on a row, mouse releases and dropped text; the window's handlers
// act on them.
#include <QTreeWidget>

class TaskListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit TaskListView(QWidget *parent = nullptr);

Q_SIGNALS:
    void dblClick();
    void enterPressed();
    void deletePressed();
    void mouseUp(Qt::MouseButton button, const QPoint &globalPos);
    void textDropped(const QString &text);

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};
