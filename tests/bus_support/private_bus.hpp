// Real parts for the tests of desktop notifications: a private D-Bus session
// bus (a dbus-daemon of the test's own, never the user's bus), the
// notification service of python3-dbusmock on it, which records every call,
// and child processes started with an environment of the test's choosing.
#pragma once

#include <gio/gio.h>

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace bustest {
namespace fs = std::filesystem;

// A fresh folder, removed with its contents on destruction.
class Folder {
public:
    Folder();
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

// This process's environment with changes, for a child.
class Environment {
public:
    Environment();
    Environment& set(const std::string& name, const std::string& value);
    Environment& unset(const std::string& name);
    std::vector<std::string> entries() const;

private:
    std::map<std::string, std::string> variables_;
};

struct ChildOptions {
    fs::path cwd;          // empty: this process's
    fs::path out = "/dev/null";
    fs::path err = "/dev/null";
    // Run as the user "nobody" when the test runs as root, for whom no
    // folder is read-only.
    bool unprivileged = false;
};

// A started program. Stopped (SIGTERM, then SIGKILL) and reaped on
// destruction unless it has ended.
class Child {
public:
    Child(const std::vector<std::string>& argv, const Environment& environment, const ChildOptions& options = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Its exit code (-1 when a signal ended it), or nothing while it still
    // runs after `bound`.
    std::optional<int> wait(std::chrono::milliseconds bound);
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    std::optional<int> exit_code_;
};

// One Notify call as the service received it.
struct NotifyCall {
    std::string app_name;
    uint32_t replaces_id = 0;
    std::string app_icon;
    std::string summary;
    std::string body;
    std::optional<uint8_t> urgency;
    std::optional<int32_t> value;
    std::optional<std::string> desktop_entry;
    std::optional<std::string> category;
    int32_t expire_timeout = 0;
};

// A dbus-daemon of the test's own, with a minimal configuration: no
// services to start on demand, so a name is there only when a test puts it
// there; any user may connect, so a child run as "nobody" can.
class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    const std::string& address() const { return address_; }
    // The test's own connection to the bus.
    GDBusConnection* connection() const { return connection_; }
    // Waits until `name` has an owner on the bus.
    bool wait_for_owner(const std::string& name, std::chrono::milliseconds bound) const;
    // How many connections to the bus were opened while `action` ran.
    int connections_during(const std::function<void()>& action) const;

private:
    Folder folder_;
    std::unique_ptr<Child> daemon_;
    std::string address_;
    GDBusConnection* connection_ = nullptr;
};

// python3-dbusmock's notification_daemon template on the bus: it answers
// Notify with a new id (1, 2, ...) or the one to replace, and records the
// calls.
class MockNotificationService {
public:
    explicit MockNotificationService(PrivateSessionBus& bus);
    ~MockNotificationService();

    // The recorded Notify calls, in the order they arrived.
    std::vector<NotifyCall> notify_calls() const;
    // Replaces the Python code Notify runs (dbusmock's AddMethod), e.g. one
    // that never returns or raises an error.
    void set_notify_code(const std::string& python);
    // The service's own log: one line per call as it arrives, also while
    // the method runs.
    std::string log() const;

private:
    PrivateSessionBus& bus_;
    Folder folder_;
    std::unique_ptr<Child> mock_;
};

// The session bus variables of a child: the given bus, or none at all, and
// a runtime folder without a bus socket in either case, so the user's own
// bus is never reached.
Environment with_bus(Environment environment, const std::optional<std::string>& address, const fs::path& runtime_dir);

std::string read_file(const fs::path& path);

}  // namespace bustest
