#include "main_window/widgets/push_button_control.h"

#include <QPushButton>

namespace tcdemux {

bool PushButtonControl::Enabled() const { return button_.isEnabled(); }
void PushButtonControl::SetEnabled(bool enabled) { button_.setEnabled(enabled); }

} // namespace tcdemux
