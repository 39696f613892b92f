#include "main_window/widgets/line_edit_text_box.h"

#include <QLineEdit>

namespace tcdemux {

std::u16string LineEditTextBox::Text() const { return edit_.text().toStdU16String(); }

void LineEditTextBox::SetText(const std::u16string& text) {
    edit_.setText(QString::fromStdU16String(text));
    // setText leaves the caret at the end; show the text from its start.
    edit_.setCursorPosition(0);
}

} // namespace tcdemux
