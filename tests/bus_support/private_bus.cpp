#include "private_bus.hpp"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace bustest {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kPollInterval{20};
constexpr std::chrono::seconds kStartBound{30};
constexpr int kCallTimeoutMs = 10000;

struct FreeError {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, FreeError>;
struct UnrefVariant {
    void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
using VariantPtr = std::unique_ptr<GVariant, UnrefVariant>;

[[noreturn]] void fail(const std::string& what, GError* error = nullptr)
{
    const std::string reason = error ? what + ": " + error->message : what;
    if (error)
        g_error_free(error);
    throw std::runtime_error(reason);
}

// A method call on the bus, waiting at most kCallTimeoutMs for the answer.
VariantPtr call(GDBusConnection* connection, const char* destination, const char* path, const char* interface,
                const char* method, GVariant* parameters, const char* reply_type)
{
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(connection, destination, path, interface, method, parameters,
                                                  reply_type ? G_VARIANT_TYPE(reply_type) : nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error);
    if (!reply)
        fail(std::string(interface) + "." + method, error);
    return VariantPtr(reply);
}

// A hint's value from an a{sv}, looked up by name.
VariantPtr hint(GVariant* hints, const char* name)
{
    return VariantPtr(g_variant_lookup_value(hints, name, nullptr));
}

// dbusmock hands each argument back as a variant, sometimes one more level
// deep; strip them all.
VariantPtr unwrap(GVariant* value)
{
    VariantPtr result(g_variant_ref(value));
    while (g_variant_is_of_type(result.get(), G_VARIANT_TYPE_VARIANT))
        result.reset(g_variant_get_variant(result.get()));
    return result;
}

std::string string_of(GVariant* value)
{
    const VariantPtr plain = unwrap(value);
    return g_variant_is_of_type(plain.get(), G_VARIANT_TYPE_STRING) ? g_variant_get_string(plain.get(), nullptr)
                                                                     : "<not a string>";
}

int64_t number_of(GVariant* value)
{
    const VariantPtr plain = unwrap(value);
    GVariant* v = plain.get();
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_BYTE))
        return g_variant_get_byte(v);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_INT32))
        return g_variant_get_int32(v);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32))
        return g_variant_get_uint32(v);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_INT64))
        return g_variant_get_int64(v);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_INT16))
        return g_variant_get_int16(v);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_UINT16))
        return g_variant_get_uint16(v);
    throw std::runtime_error(std::string("not a number: ") + g_variant_get_type_string(v));
}

NotifyCall parse_notify(GVariant* args)
{
    if (g_variant_n_children(args) != 8)
        throw std::runtime_error("Notify with " + std::to_string(g_variant_n_children(args)) + " arguments");
    std::vector<VariantPtr> arg;
    for (gsize i = 0; i < 8; ++i)
        arg.emplace_back(g_variant_get_child_value(args, i));
    NotifyCall c;
    c.app_name = string_of(arg[0].get());
    c.replaces_id = static_cast<uint32_t>(number_of(arg[1].get()));
    c.app_icon = string_of(arg[2].get());
    c.summary = string_of(arg[3].get());
    c.body = string_of(arg[4].get());
    const VariantPtr hints = unwrap(arg[6].get());
    if (!g_variant_is_of_type(hints.get(), G_VARIANT_TYPE("a{sv}")))
        throw std::runtime_error(std::string("hints of type ") + g_variant_get_type_string(hints.get()));
    if (const VariantPtr v = hint(hints.get(), "urgency"))
        c.urgency = static_cast<uint8_t>(number_of(v.get()));
    if (const VariantPtr v = hint(hints.get(), "value"))
        c.value = static_cast<int32_t>(number_of(v.get()));
    if (const VariantPtr v = hint(hints.get(), "desktop-entry"))
        c.desktop_entry = string_of(v.get());
    if (const VariantPtr v = hint(hints.get(), "category"))
        c.category = string_of(v.get());
    c.expire_timeout = static_cast<int32_t>(number_of(arg[7].get()));
    return c;
}

// Waits for a non-empty first line in a file another process writes.
std::string wait_for_line(const fs::path& file, std::chrono::milliseconds bound)
{
    const auto deadline = Clock::now() + bound;
    while (Clock::now() < deadline) {
        const std::string text = read_file(file);
        const size_t end = text.find('\n');
        if (end != std::string::npos && end > 0)
            return text.substr(0, end);
        std::this_thread::sleep_for(kPollInterval);
    }
    return {};
}

constexpr const char* kBusConfig = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=@FOLDER@</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
)";

}  // namespace

// ---------------------------------------------------------------------------

Folder::Folder()
{
    std::string pattern = (fs::temp_directory_path() / "tcdemux-bus-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

Folder::~Folder()
{
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

Environment::Environment()
{
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const size_t equals = text.find('=');
        if (equals != std::string::npos)
            variables_[text.substr(0, equals)] = text.substr(equals + 1);
    }
}

Environment& Environment::set(const std::string& name, const std::string& value)
{
    variables_[name] = value;
    return *this;
}

Environment& Environment::unset(const std::string& name)
{
    variables_.erase(name);
    return *this;
}

std::vector<std::string> Environment::entries() const
{
    std::vector<std::string> entries;
    for (const auto& [name, value] : variables_)
        entries.push_back(name + "=" + value);
    return entries;
}

Environment with_bus(Environment environment, const std::optional<std::string>& address, const fs::path& runtime_dir)
{
    if (address)
        environment.set("DBUS_SESSION_BUS_ADDRESS", *address);
    else
        environment.unset("DBUS_SESSION_BUS_ADDRESS");
    environment.set("XDG_RUNTIME_DIR", runtime_dir.string());
    environment.unset("DBUS_STARTER_ADDRESS");
    environment.unset("DBUS_STARTER_BUS_TYPE");
    return environment;
}

// ---------------------------------------------------------------------------

Child::Child(const std::vector<std::string>& argv, const Environment& environment, const ChildOptions& options)
{
    std::vector<std::string> args = argv;
    std::vector<char*> arg_pointers;
    for (auto& a : args)
        arg_pointers.push_back(a.data());
    arg_pointers.push_back(nullptr);
    std::vector<std::string> env = environment.entries();
    std::vector<char*> env_pointers;
    for (auto& e : env)
        env_pointers.push_back(e.data());
    env_pointers.push_back(nullptr);
    const bool drop = options.unprivileged && geteuid() == 0;

    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(options.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(options.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0)
            _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        // Its own process group, so that stopping it reaches what it starts.
        setpgid(0, 0);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0)
            _exit(126);
        if (drop && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(125);
        execve(args[0].c_str(), arg_pointers.data(), env_pointers.data());
        _exit(127);
    }
    setpgid(pid_, pid_);
}

Child::~Child()
{
    if (exit_code_ || pid_ <= 0)
        return;
    kill(-pid_, SIGTERM);
    if (!wait(std::chrono::seconds(10))) {
        kill(-pid_, SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

std::optional<int> Child::wait(std::chrono::milliseconds bound)
{
    if (exit_code_)
        return exit_code_;
    const auto deadline = Clock::now() + bound;
    while (true) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return exit_code_;
        }
        if (done < 0 && errno != EINTR)
            throw std::runtime_error("waitpid failed");
        if (Clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// ---------------------------------------------------------------------------

PrivateSessionBus::PrivateSessionBus()
{
    // Reachable for a child run as "nobody" too.
    fs::permissions(folder_.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                        fs::perms::others_read | fs::perms::others_exec);
    const fs::path config = folder_ / "session.conf";
    std::string text = kBusConfig;
    text.replace(text.find("@FOLDER@"), 8, folder_.path().string());
    {
        std::ofstream out(config);
        out << text;
    }
    ChildOptions options;
    options.out = folder_ / "address";
    options.err = folder_ / "daemon.log";
    daemon_ = std::make_unique<Child>(
        std::vector<std::string>{"/usr/bin/dbus-daemon", "--config-file=" + config.string(), "--print-address=1",
                                 "--nofork"},
        Environment(), options);
    address_ = wait_for_line(folder_ / "address", kStartBound);
    if (address_.empty())
        throw std::runtime_error("dbus-daemon gave no address (is dbus-daemon installed?): " +
                                 read_file(folder_ / "daemon.log"));
    GError* error = nullptr;
    connection_ = g_dbus_connection_new_for_address_sync(
        address_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (!connection_)
        fail("cannot connect to the private bus", error);
}

PrivateSessionBus::~PrivateSessionBus()
{
    if (connection_) {
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
    }
}

bool PrivateSessionBus::wait_for_owner(const std::string& name, std::chrono::milliseconds bound) const
{
    const auto deadline = Clock::now() + bound;
    while (true) {
        const VariantPtr reply = call(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                      "org.freedesktop.DBus", "NameHasOwner", g_variant_new("(s)", name.c_str()),
                                      "(b)");
        gboolean owned = FALSE;
        g_variant_get(reply.get(), "(b)", &owned);
        if (owned)
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kPollInterval);
    }
}

namespace {

// A unique name (":1.7") that gets its first owner is a new connection.
void on_owner_changed(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                      gpointer count)
{
    const gchar* name = nullptr;
    const gchar* old_owner = nullptr;
    const gchar* new_owner = nullptr;
    g_variant_get(parameters, "(&s&s&s)", &name, &old_owner, &new_owner);
    if (name[0] == ':' && old_owner[0] == '\0' && new_owner[0] != '\0')
        ++*static_cast<int*>(count);
}

}  // namespace

int PrivateSessionBus::connections_during(const std::function<void()>& action) const
{
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    int count = 0;
    const guint subscription = g_dbus_connection_signal_subscribe(
        connection_, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged", "/org/freedesktop/DBus",
        nullptr, G_DBUS_SIGNAL_FLAGS_NONE, on_owner_changed, &count, nullptr);
    // A round trip after the subscription: the bus has the match rule before
    // the action; one after the action: every signal the bus sent before
    // the answer has arrived and waits in the context.
    auto round_trip = [this] {
        call(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId", nullptr,
             "(s)");
    };
    round_trip();
    action();
    round_trip();
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_dbus_connection_signal_unsubscribe(connection_, subscription);
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    return count;
}

// ---------------------------------------------------------------------------

MockNotificationService::MockNotificationService(PrivateSessionBus& bus) : bus_(bus)
{
    ChildOptions options;
    options.out = folder_ / "calls.log";
    options.err = folder_ / "mock.err";
    Environment environment = with_bus(Environment(), bus.address(), folder_.path());
    // Python's own buffering would hold back the log.
    environment.set("PYTHONUNBUFFERED", "1");
    mock_ = std::make_unique<Child>(
        std::vector<std::string>{"/usr/bin/python3", "-m", "dbusmock", "--template", "notification_daemon"},
        environment, options);
    if (!bus.wait_for_owner("org.freedesktop.Notifications", kStartBound))
        throw std::runtime_error("the dbusmock notification service did not start (is python3-dbusmock installed?): " +
                                 read_file(folder_ / "mock.err"));
}

MockNotificationService::~MockNotificationService() = default;

std::vector<NotifyCall> MockNotificationService::notify_calls() const
{
    const VariantPtr reply = call(bus_.connection(), "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                  "org.freedesktop.DBus.Mock", "GetCalls", nullptr, "(a(tsav))");
    std::vector<NotifyCall> calls;
    const VariantPtr list(g_variant_get_child_value(reply.get(), 0));
    for (gsize i = 0; i < g_variant_n_children(list.get()); ++i) {
        const VariantPtr entry(g_variant_get_child_value(list.get(), i));
        const VariantPtr method(g_variant_get_child_value(entry.get(), 1));
        if (std::string(g_variant_get_string(method.get(), nullptr)) != "Notify")
            continue;
        const VariantPtr args(g_variant_get_child_value(entry.get(), 2));
        calls.push_back(parse_notify(args.get()));
    }
    return calls;
}

void MockNotificationService::set_notify_code(const std::string& python)
{
    call(bus_.connection(), "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
         "org.freedesktop.DBus.Mock", "AddMethod",
         g_variant_new("(sssss)", "org.freedesktop.Notifications", "Notify", "susssasa{sv}i", "u", python.c_str()),
         nullptr);
}

std::string MockNotificationService::log() const
{
    return read_file(folder_ / "calls.log");
}

}  // namespace bustest
