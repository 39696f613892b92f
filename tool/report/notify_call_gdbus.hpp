// The Notify call as GDBus takes it, and D-Bus errors in plain words:
// the message side of the GDBus notifier, apart from its transport.
#pragma once

#include "report/run_report.hpp"

#include <gio/gio.h>

#include <cstdint>
#include <string>

namespace mp {

// One line for the note: a missing service said plainly, other D-Bus
// errors without GDBus's "GDBus.Error:NAME: " prefix. Strips the prefix
// from `error` in place.
std::string dbus_error_text(GError* error);

// D-Bus strings must be valid UTF-8; Linux file names need not be. Invalid
// bytes become U+FFFD.
std::string valid_utf8(const std::string& text);

// The parameters of org.freedesktop.Notifications.Notify for `n`, as a
// floating GVariant that the call consumes; the body escaped as markup.
GVariant* notify_parameters(const Notification& n, uint32_t replaces_id);

}  // namespace mp
