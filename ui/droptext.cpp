#include "ui/droptext.h"

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
