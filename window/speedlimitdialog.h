#pragma once
// The dialog of 限速…: a speed limit in KB (1024 bytes) a second, 0 for none.
#include <QtGlobal>
#include <optional>

class QWidget;
struct Seams;

// Asks for a limit, showing `currentKB`; nothing when the user cancels.
std::optional<qint64> askSpeedLimitKB(QWidget *parent, const Seams &seams, qint64 currentKB);
