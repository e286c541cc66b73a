#pragma once
// What a drop on the task list or the drop window offers as a task: its plain
// text. Dropped files (a list of local file URLs) offer nothing.
#include <QString>
#include <optional>

class QDropEvent;
class QMimeData;

std::optional<QString> droppedText(const QMimeData *data);

// For drag-enter and drag-move: accepts a drag that offers text, refuses others.
void acceptTextDrag(QDropEvent *event);
// For the drop itself: its text, the drop accepted; nothing, the drop refused.
std::optional<QString> takeDroppedText(QDropEvent *event);
