#include "app/FileDrop.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace corvane {

FileDrop::FileDrop(QWidget* target, std::function<void(const QString& path)> open)
    : QObject(target), open_(std::move(open)) {
    target->setAcceptDrops(true);
    target->installEventFilter(this);
}

QString FileDrop::droppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls())
        return QString();
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile())
        return QString();
    return urls.front().toLocalFile();
}

bool FileDrop::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDropEvent*>(event);
        if (droppedFile(drag->mimeData()).isEmpty())
            drag->ignore();
        else
            drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QString path = droppedFile(drop->mimeData());
        if (path.isEmpty()) {
            drop->ignore();
            return true;
        }
        drop->acceptProposedAction();
        if (open_)
            open_(path);
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

} // namespace corvane
