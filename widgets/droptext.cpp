#include "widgets/droptext.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

std::optional<QString> droppedText(const QMimeData *data)
{
    if (!data || !data->hasText())
        return std::nullopt;
    if (data->hasUrls()) {
        const QList<QUrl> urls = data->urls();
        const bool allFiles
            = std::all_of(urls.begin(), urls.end(), [](const QUrl &u) { return u.isLocalFile(); });
        if (allFiles && !urls.isEmpty())
            return std::nullopt;
    }
    return data->text();
}

TextDrops::TextDrops(QWidget *target) : QObject(target)
{
    target->setAcceptDrops(true);
    target->installEventFilter(this);
}

bool TextDrops::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return QObject::eventFilter(watched, event);
    auto *drop = static_cast<QDropEvent *>(event);
    const std::optional<QString> text = droppedText(drop->mimeData());
    if (text)
        drop->acceptProposedAction();
    else
        drop->ignore();
    if (type == QEvent::Drop && text)
        Q_EMIT textDropped(*text);
    return true;
}
