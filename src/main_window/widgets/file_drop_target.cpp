#include "main_window/widgets/file_drop_target.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace tcdemux {

namespace {

bool AcceptAsCopyOrLink(QDropEvent* event) {
    const Qt::DropActions possible = event->possibleActions();
    if (possible.testFlag(Qt::CopyAction))
        event->setDropAction(Qt::CopyAction);
    else if (possible.testFlag(Qt::LinkAction))
        event->setDropAction(Qt::LinkAction);
    else
        return false;
    event->accept();
    return true;
}

} // namespace

FileDropTarget::FileDropTarget(std::function<bool()> accepting, QObject* parent)
    : QObject(parent), accepting_(std::move(accepting)) {}

void FileDropTarget::Watch(QWidget* widget) {
    widget->setAcceptDrops(true);
    widget->installEventFilter(this);
}

QStringList FileDropTarget::LocalFiles(const QMimeData* data) {
    QStringList files;
    if (data == nullptr || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) files << url.toLocalFile();
    return files;
}

bool FileDropTarget::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return QObject::eventFilter(watched, event);
    auto* drop = static_cast<QDropEvent*>(event);
    const QStringList files = LocalFiles(drop->mimeData());
    if (files.isEmpty()) return QObject::eventFilter(watched, event);

    // Refused drags show the "no drop" cursor, and their drop never comes.
    if (!accepting_() || !AcceptAsCopyOrLink(drop)) {
        drop->ignore();
        return true;
    }
    if (type == QEvent::Drop) emit filesDropped(files);
    return true;
}

} // namespace tcdemux
