#pragma once
// A QLineEdit as the window's handlers see a text box.

#include "main_window/controls.h"

class QLineEdit;

namespace tcdemux {

class LineEditTextBox : public TextBox {
public:
    explicit LineEditTextBox(QLineEdit& edit) : edit_(edit) {}
    std::u16string Text() const override;
    void SetText(const std::u16string& text) override;

private:
    QLineEdit& edit_;
};

} // namespace tcdemux
