#include "main_window/widgets/accelerated_button.h"

#include <QEvent>

namespace tcdemux {

bool AcceleratedButton::event(QEvent* event) {
    if (event->type() == QEvent::Shortcut && focusPolicy() != Qt::NoFocus) setFocus(Qt::ShortcutFocusReason);
    return QPushButton::event(event);
}

} // namespace tcdemux
