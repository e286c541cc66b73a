#include "widgets/tasklistview.h"

#include "widgets/droptext.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

TaskListView::TaskListView(QWidget *parent) : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(16, 16));
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    // Rows keep their order for the whole run: their index is the task's.
    setSortingEnabled(false);
    // Text dragged from other programs becomes a task; nothing is dragged out.
    setDragDropMode(QAbstractItemView::DropOnly);
    setAcceptDrops(true);
    connect(new TextDrops(viewport()), &TextDrops::textDropped, this, &TaskListView::textDropped);
}

void TaskListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    QTreeWidget::mouseDoubleClickEvent(event);
    Q_EMIT dblClick();
}

void TaskListView::mouseReleaseEvent(QMouseEvent *event)
{
    QTreeWidget::mouseReleaseEvent(event);
    Q_EMIT mouseUp(event->button(), event->globalPosition().toPoint());
}

void TaskListView::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        Q_EMIT enterPressed();
        return;
    case Qt::Key_Delete:
        Q_EMIT deletePressed();
        return;
    default:
        QTreeWidget::keyPressEvent(event);
    }
}
