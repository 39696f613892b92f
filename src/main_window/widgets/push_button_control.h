#pragma once
// A QPushButton as the window's handlers see a button.

#include "main_window/controls.h"

class QPushButton;

namespace tcdemux {

class PushButtonControl : public Button {
public:
    explicit PushButtonControl(QPushButton& button) : button_(button) {}
    bool Enabled() const override;
    void SetEnabled(bool enabled) override;

private:
    QPushButton& button_;
};

} // namespace tcdemux
