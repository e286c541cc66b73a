#pragma once
// What a drop on the task list or the drop window offers as a task: its plain
// text. Dropped files (a list of local file URLs) offer nothing.
#include <QString>
#include <optional>

class QMimeData;

std::optional<QString> droppedText(const QMimeData *data);
