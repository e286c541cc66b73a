#pragma once
// ImageList1: the small pictures that show a task row's state key.
#include <QIcon>
#include <QString>

// The 16 x 16 icon for "ok", "stop", "start", "error", "delete", "queue" or
// "retry"; an empty icon for any other key.
QIcon stateIcon(const QString &key);
