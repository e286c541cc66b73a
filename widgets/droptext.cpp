#include "widgets/droptext.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

std::optional<QString> droppedText(const QMimeData *data)
{
    if (!data || !data->hasText())
        return std::nullopt;
    if (data->hasUrls()) {
        const QList<QUrl> urls = data->urls();
        const bool allFiles = std::all_of(urls.begin(), urls.end(),
                                          [](const QUrl &u) { return u.isLocalFile(); });
        if (allFiles && !urls.isEmpty())
            return std::nullopt;
    }
    return data->text();
}

void acceptTextDrag(QDropEvent *event)
{
    if (droppedText(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

std::optional<QString> takeDroppedText(QDropEvent *event)
{
    std::optional<QString> text = droppedText(event->mimeData());
    acceptTextDrag(event);
    return text;
}
