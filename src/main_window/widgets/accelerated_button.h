#pragma once
// A button whose keyboard accelerator takes the focus before it clicks, as
// a mouse click does, so that the box being left is done with first.

#include <QPushButton>

namespace tcdemux {

class AcceleratedButton : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

protected:
    bool event(QEvent* event) override;
};

} // namespace tcdemux
