#include "window/speedlimitdialog.h"

#include "window/seams.h"

#include <QInputDialog>
#include <algorithm>

std::optional<qint64> askSpeedLimitKB(QWidget *parent, const Seams &seams, qint64 currentKB)
{
    QInputDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("speedLimitDialog"));
    dialog.setWindowTitle(QStringLiteral("限速"));
    dialog.setLabelText(QStringLiteral("每秒最多下载多少KB（0为不限速）："));
    dialog.setInputMode(QInputDialog::IntInput);
    // Up to about 2 GB a second: more is no limit at all.
    dialog.setIntRange(0, 2000000);
    dialog.setIntValue(int(std::clamp<qint64>(currentKB, 0, 2000000)));
    if (seams.execModal(dialog) != QDialog::Accepted)
        return std::nullopt;
    return dialog.intValue();
}
