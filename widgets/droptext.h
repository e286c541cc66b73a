#pragma once
// What a drop on the task list or the drop window offers as a task: its plain
// text. Dropped files (a list of local file URLs) offer nothing.
#include <QObject>
#include <QString>
#include <optional>

class QMimeData;
class QWidget;

std::optional<QString> droppedText(const QMimeData *data);

// Takes the drag-and-drop events of `target` (a scrolled view's viewport):
// a drag that offers text is accepted, any other refused, and the text of
// a drop is reported. The target's own drop handling never runs.
class TextDrops : public QObject {
    Q_OBJECT
public:
    explicit TextDrops(QWidget *target);

Q_SIGNALS:
    void textDropped(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
