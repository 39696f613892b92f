// The notifier of builds without GLib's D-Bus client (Windows, where the
// run's console window is its feedback, or a system without gio-2.0): it
// only says why nothing reaches the desktop.
#include "report/desktop_notifier.hpp"

namespace mp {

namespace {

class NoNotifier : public Notifier {
public:
    void update(const Notification&) override {}
    void finish(const Notification&) override {}
    std::optional<std::string> failure() const override
    {
        return std::string("mp.exe was built without D-Bus support");
    }
};

}  // namespace

std::unique_ptr<Notifier> connect_desktop_notifier(std::chrono::milliseconds)
{
    return std::make_unique<NoNotifier>();
}

}  // namespace mp
