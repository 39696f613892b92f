// The notifier on GDBus, GLib's D-Bus client in libgio-2.0. FFmpeg's
// libraries already load libgio-2.0, libgobject-2.0 and libglib-2.0 when
// mp.exe starts, so this costs no additional shared library.
//
// All replies are dispatched on a main context of our own, which only runs
// while we look at it: without waiting (update) or until an answer or the
// end of the budget (connect, finish). The bus connection's own I/O runs in
// GDBus's worker thread, so a message goes out as soon as it is handed over.
#include "report/desktop_notifier.hpp"
#include "common/free_with.hpp"
#include "report/notify_call_gdbus.hpp"

#include <gio/gio.h>

#include <cstdio>
#include <cstdlib>

namespace mp {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kObjectPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";

// A timer attached to our context is also taken off it.
void destroy_source(GSource* source)
{
    g_source_destroy(source);
    g_source_unref(source);
}

using ConnectionPtr = FreedPtr<GDBusConnection, g_object_unref>;
using CancellablePtr = FreedPtr<GCancellable, g_object_unref>;
using ErrorPtr = FreedPtr<GError, g_error_free>;
using VariantPtr = FreedPtr<GVariant, g_variant_unref>;
using ContextPtr = FreedPtr<GMainContext, g_main_context_unref>;
using SourcePtr = FreedPtr<GSource, destroy_source>;

// The result of one asynchronous step (connecting, or a call awaiting its
// reply). Shared with the step's callback, so a callback that runs after
// the notifier is gone still finds it.
struct Step {
    bool done = false;
    ConnectionPtr connection;
    VariantPtr reply;
    ErrorPtr error;
};
using StepPtr = std::shared_ptr<Step>;

gpointer hand_to_callback(const StepPtr& step)
{
    return new StepPtr(step);
}

StepPtr take_in_callback(gpointer data)
{
    const std::unique_ptr<StepPtr> handed(static_cast<StepPtr*>(data));
    return *handed;
}

void on_connected(GObject*, GAsyncResult* result, gpointer data)
{
    const StepPtr step = take_in_callback(data);
    GError* error = nullptr;
    step->connection.reset(g_dbus_connection_new_for_address_finish(result, &error));
    step->error.reset(error);
    step->done = true;
}

void on_reply(GObject* source, GAsyncResult* result, gpointer data)
{
    const StepPtr step = take_in_callback(data);
    GError* error = nullptr;
    step->reply.reset(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error));
    step->error.reset(error);
    step->done = true;
}

gboolean on_budget_spent(gpointer flag)
{
    *static_cast<bool*>(flag) = true;
    return G_SOURCE_REMOVE;
}

std::string seconds_text(std::chrono::milliseconds budget)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(budget.count()) / 1000.0);
    return text;
}

class GDBusNotifier : public Notifier {
public:
    explicit GDBusNotifier(std::chrono::milliseconds budget) : budget_(budget), context_(g_main_context_new())
    {
        g_main_context_push_thread_default(context_.get());
        connect();
    }

    ~GDBusNotifier() override
    {
        // Calls still waiting for an answer end as cancelled; their
        // callbacks run here and release what they hold.
        g_cancellable_cancel(cancellable_.get());
        pump();
        connection_.reset();
        g_main_context_pop_thread_default(context_.get());
    }

    GDBusNotifier(const GDBusNotifier&) = delete;
    GDBusNotifier& operator=(const GDBusNotifier&) = delete;

    void update(const Notification& notification) override
    {
        if (failure_)
            return;
        pump();
        if (!first_) {
            first_ = call(notification, 0);
            return;
        }
        // Later states replace the first one, so they wait for its id; one
        // that comes before the id is left out.
        if (!id_ && (!first_->done || !take_id()))
            return;
        send(notification, *id_);
    }

    void finish(const Notification& notification) override
    {
        if (failure_)
            return;
        pump();
        if (!first_) {
            settle(call(notification, 0));
            return;
        }
        if (!id_) {
            if (!wait(*first_)) {
                fail(no_answer());
                return;
            }
            if (!take_id())
                return;
        }
        settle(call(notification, *id_));
    }

    std::optional<std::string> failure() const override { return failure_; }

private:
    void connect()
    {
        cancellable_.reset(g_cancellable_new());
        const std::optional<std::string> address =
            session_bus_address(std::getenv("DBUS_SESSION_BUS_ADDRESS"), std::getenv("XDG_RUNTIME_DIR"));
        if (!address) {
            fail("no session bus (DBUS_SESSION_BUS_ADDRESS is not set)");
            return;
        }
        const StepPtr step = std::make_shared<Step>();
        g_dbus_connection_new_for_address(
            address->c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, cancellable_.get(), on_connected, hand_to_callback(step));
        if (!wait(*step)) {
            fail("the session bus did not answer within " + seconds_text(budget_));
            return;
        }
        if (step->error) {
            fail("cannot connect to the session bus: " + std::string(step->error->message));
            return;
        }
        connection_ = std::move(step->connection);
    }

    // A Notify call whose reply (the notification's id) is awaited.
    StepPtr call(const Notification& notification, uint32_t replaces_id)
    {
        const StepPtr step = std::make_shared<Step>();
        g_dbus_connection_call(connection_.get(), kService, kObjectPath, kInterface, "Notify",
                               notify_parameters(notification, replaces_id), G_VARIANT_TYPE("(u)"),
                               G_DBUS_CALL_FLAGS_NONE, static_cast<gint>(budget_.count()), cancellable_.get(),
                               on_reply, hand_to_callback(step));
        return step;
    }

    // A Notify call that asks for no reply: an update while the run goes
    // on. The bus keeps the order of one connection's messages, so it
    // arrives before the final state.
    void send(const Notification& notification, uint32_t replaces_id)
    {
        g_dbus_connection_call(connection_.get(), kService, kObjectPath, kInterface, "Notify",
                               notify_parameters(notification, replaces_id), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
                               nullptr, nullptr, nullptr);
    }

    bool take_id()
    {
        if (first_->error) {
            fail(reason(first_->error.get()));
            return false;
        }
        guint32 id = 0;
        g_variant_get(first_->reply.get(), "(u)", &id);
        id_ = id;
        return true;
    }

    void settle(const StepPtr& step)
    {
        if (!wait(*step))
            fail(no_answer());
        else if (step->error)
            fail(reason(step->error.get()));
    }

    // A call's own timeout (the budget) says the same as our wait running out.
    std::string reason(GError* error) const
    {
        if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT))
            return no_answer();
        return dbus_error_text(error);
    }

    // Runs our context until the step is done or the run's budget is spent.
    bool wait(const Step& step)
    {
        if (step.done)
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(budget_ - spent_);
        if (left.count() <= 0)
            return false;
        const auto begun = Clock::now();
        bool spent = false;
        const SourcePtr timer(g_timeout_source_new(static_cast<guint>(left.count())));
        g_source_set_callback(timer.get(), on_budget_spent, &spent, nullptr);
        g_source_attach(timer.get(), context_.get());
        while (!step.done && !spent)
            g_main_context_iteration(context_.get(), TRUE);
        spent_ += Clock::now() - begun;
        return step.done;
    }

    // Dispatches what has arrived, without waiting.
    void pump()
    {
        for (int i = 0; i < 64 && g_main_context_iteration(context_.get(), FALSE); ++i) {
        }
    }

    std::string no_answer() const { return "the notification service did not answer within " + seconds_text(budget_); }

    void fail(std::string reason)
    {
        if (!failure_)
            failure_ = std::move(reason);
        g_cancellable_cancel(cancellable_.get());
    }

    const std::chrono::milliseconds budget_;
    Clock::duration spent_{};
    ContextPtr context_;
    CancellablePtr cancellable_;
    ConnectionPtr connection_;
    StepPtr first_;  // the first Notify call, whose reply holds the id
    std::optional<uint32_t> id_;
    std::optional<std::string> failure_;
};

}  // namespace

std::unique_ptr<Notifier> connect_desktop_notifier(std::chrono::milliseconds budget)
{
    return std::make_unique<GDBusNotifier>(budget);
}

}  // namespace mp
