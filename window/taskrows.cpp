// Task rows: one item of LView per task of the model, its state shown as
// its icon and named by its tooltip; the tray tells of a running task that
// ends.
#include "window/frmdown.h"

#include "engine/analyzeurl.h"
#include "widgets/stateicons.h"
#include "widgets/tasklistview.h"
#include "widgets/trayicon.h"

#include <QFileInfo>
#include <QTimer>
#include <limits>
#include <utility>

namespace {

// The number a size text starts with, 0 when it starts with none: blanks,
// then an optional sign, then digits. Stored sizes are whole numbers.
qint64 leadingNumber(const QString &text)
{
    int i = 0;
    while (i < text.size() && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+')))
        negative = text[i++] == QLatin1Char('-');
    qint64 value = 0;
    constexpr qint64 cap = std::numeric_limits<qint64>::max() / 10 - 10;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        if (value < cap)
            value = value * 10 + (text[i].unicode() - '0');
    }
    return negative ? -value : value;
}

}  // namespace

void frmDown::AddUrl(const QString &myUrl, const QString &mSize, const QString &mGetSize,
                     const QString &)
{
    if (myUrl.isEmpty())
        return;
    // Row indices are 16-bit: a full list takes no more tasks.
    if (rowCount() >= MaxTasks)
        return;
    TaskRecord record;
    record.Url = myUrl;
    record.FileSize = leadingNumber(mSize);
    record.GotSize = leadingNumber(mGetSize);
    const int row = model().append(record);
    // The row shows the texts it was given, as given.
    setRowText(row, 1, mSize);
    setRowText(row, 2, mGetSize);
}

void frmDown::showNewTask(int row)
{
    const TaskRecord &task = DownTask(row);
    auto *item = new QTreeWidgetItem(
        QStringList{task.Url, QString::number(task.FileSize), QString::number(task.GotSize)});
    ui_.LView->addTopLevelItem(item);
    showState(row, QString(), model().stateKey(row));
}

bool frmDown::holdsUrl(const QString &url) const
{
    const int rows = rowCount();
    for (int i = 1; i <= rows; ++i) {
        if (rowUrl(i) == url)
            return true;
    }
    return false;
}

bool frmDown::refuseDuplicate(const QString &url, QWidget *parent)
{
    if (!holdsUrl(url))
        return false;
    seams_.message(parent, QStringLiteral("该URL已经在下载队列中了！"));
    return true;
}

bool frmDown::refuseUnusable(const QString &url, QWidget *parent)
{
    UrlParts parts;
    if (analyzeUrl(url, parts))
        return false;
    seams_.message(parent, QStringLiteral("无法识别的URL地址：") + url);
    return true;
}

bool frmDown::refuseFullList(QWidget *parent)
{
    if (rowCount() < MaxTasks)
        return false;
    seams_.message(
        parent, QStringLiteral("任务列表已满（最多%1个任务），不能再加入新任务！").arg(MaxTasks));
    return true;
}

void frmDown::AddNewUrl(const QString &myUrl)
{
    if (myUrl.isEmpty() || refuseFullList(this) || refuseDuplicate(myUrl, this))
        return;
    appendTask(myUrl);
}

TaskRecord &frmDown::appendTask(const QString &url)
{
    AddUrl(url, QString(), QString(), QString());
    return DownTask(rowCount());
}

int frmDown::rowCount() const
{
    return ui_.LView->topLevelItemCount();
}

QString frmDown::rowUrl(int row) const
{
    return rowText(row, 0);
}

QString frmDown::rowState(int row) const
{
    return row >= 1 && row <= rowCount() ? model_->stateKey(row) : QString();
}

QString frmDown::rowText(int row, int column) const
{
    if (column == 2) {
        const auto pending = pendingSizes_.constFind(row);
        if (pending != pendingSizes_.constEnd())
            return *pending;
    }
    const QTreeWidgetItem *item = ui_.LView->topLevelItem(row - 1);
    return item ? item->text(column) : QString();
}

int frmDown::selectedRow() const
{
    const QList<QTreeWidgetItem *> selected = ui_.LView->selectedItems();
    return selected.isEmpty() ? 0 : ui_.LView->indexOfTopLevelItem(selected.first()) + 1;
}

void frmDown::showState(int row, const QString &before, const QString &key)
{
    QTreeWidgetItem *item = ui_.LView->topLevelItem(row - 1);
    if (!item)
        return;
    notifyEnd(row, before, key);
    if (key != QLatin1String("start"))
        showIdleFigures(row);
    item->setIcon(0, stateIcon(key));
    item->setToolTip(0, stateName(row));
}

QString frmDown::stateName(int row) const
{
    if (model_->marked(row))
        return QStringLiteral("删除");
    switch (model_->state(row)) {
    case TaskState::Stopped:
        break;
    case TaskState::Queued:
        return QStringLiteral("排队");
    case TaskState::Connecting:
        return QStringLiteral("连接中");
    case TaskState::Downloading:
        return QStringLiteral("下载中");
    case TaskState::WaitingRetry:
        return QStringLiteral("等待重试");
    case TaskState::Complete:
        return QStringLiteral("完成");
    case TaskState::Error:
        return QStringLiteral("出错");
    }
    return QStringLiteral("停止");
}

void frmDown::setRowText(int row, int column, const QString &text)
{
    QTreeWidgetItem *item = ui_.LView->topLevelItem(row - 1);
    if (column == 2)
        pendingSizes_.remove(row);  // this text is newer than any pending one
    if (item && column >= 1 && column < ui_.LView->columnCount())
        item->setText(column, text);
}

void frmDown::showGotSize(int row, const QString &text)
{
    if (row < 1 || row > rowCount())
        return;
    pendingSizes_.insert(row, text);
    if (!sizeRepaint_) {
        // Twenty times a second reads as continuous; each repaint lays out
        // and paints the visible rows, which costs more than the arrival.
        sizeRepaint_ = new QTimer(this);
        sizeRepaint_->setSingleShot(true);
        sizeRepaint_->setInterval(50);
        connect(sizeRepaint_, &QTimer::timeout, this, &frmDown::paintPendingSizes);
    }
    if (!sizeRepaint_->isActive())
        sizeRepaint_->start();
}

void frmDown::paintPendingSizes()
{
    const QHash<int, QString> pending = std::exchange(pendingSizes_, {});
    for (auto it = pending.begin(); it != pending.end(); ++it) {
        if (QTreeWidgetItem *item = ui_.LView->topLevelItem(it.key() - 1))
            item->setText(2, it.value());
    }
}

void frmDown::notifyEnd(int row, const QString &before, const QString &key)
{
    if (!tray_ || before == key)
        return;
    const TaskRecord &task = DownTask(row);
    if (key == QLatin1String("ok") && before == QLatin1String("start"))
        tray_->notify(QStringLiteral("下载完毕"),
                      task.FilePath.isEmpty() ? task.Url : QFileInfo(task.FilePath).fileName());
    else if (key == QLatin1String("error"))
        tray_->notify(QStringLiteral("下载失败"), task.Url);
}
