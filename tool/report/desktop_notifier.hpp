// The transport of the run's notification: the freedesktop Notifications
// service on the D-Bus session bus. One notification per run, updated in
// place. Never in the way of the run: every wait on the bus comes out of
// one small time budget per run, and after the first failure the bus is
// left alone for the rest of the run.
#pragma once

#include "report/run_report.hpp"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace mp {

// The most time a run spends waiting on the bus, all waits together.
inline constexpr std::chrono::milliseconds kNotificationBudget{3000};

class Notifier {
public:
    virtual ~Notifier() = default;

    // Shows or updates the run's notification without waiting for the
    // service, so the copy goes on at full speed.
    virtual void update(const Notification& notification) = 0;
    // Shows the run's last state and waits, within the budget, until the
    // service has taken it.
    virtual void finish(const Notification& notification) = 0;
    // Why notifications did not reach the desktop, once something failed.
    virtual std::optional<std::string> failure() const = 0;
};

// Connects to the session bus (waiting at most `budget`, which the later
// waits share). Never fails: a notifier that could not connect only keeps
// the reason for failure().
std::unique_ptr<Notifier> connect_desktop_notifier(std::chrono::milliseconds budget = kNotificationBudget);

// The session bus address: DBUS_SESSION_BUS_ADDRESS when set, else the
// per-user bus socket $XDG_RUNTIME_DIR/bus when it exists. Deliberately no
// further fallback: a command-line tool must not launch a bus of its own.
std::optional<std::string> session_bus_address(const char* bus_address_variable, const char* runtime_dir);

}  // namespace mp
