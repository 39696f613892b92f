#pragma once
// Takes files dragged from a file manager onto the widgets it watches. A
// drag that carries local files is accepted as a copy (or a link), never as
// a move, so that the file manager never deletes the source afterwards.
// Other drags (plain text into an output box) go on to the widget as before.

#include <QObject>
#include <QStringList>

#include <functional>

class QMimeData;
class QWidget;

namespace tcdemux {

class FileDropTarget : public QObject {
    Q_OBJECT
public:
    // `accepting` tells, at each drag, whether files are taken now.
    FileDropTarget(std::function<bool()> accepting, QObject* parent);

    // Takes file drags on `widget` too (and makes it accept drops at all).
    void Watch(QWidget* widget);

    // The local files among the drag's URLs, in their order.
    static QStringList LocalFiles(const QMimeData* data);

signals:
    // The files of a finished drop; connect with a queued connection, so
    // that the drop is over before a handler opens a message.
    void filesDropped(const QStringList& paths);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<bool()> accepting_;
};

} // namespace tcdemux
