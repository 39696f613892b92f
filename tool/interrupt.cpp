#include "interrupt.hpp"

#include "av_error.hpp"

#include <csignal>

namespace mp {
namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void on_stop_signal(int)
{
    g_stop = 1;
}

}  // namespace

void install_interrupt_handlers()
{
#if defined(_WIN32)
    std::signal(SIGINT, on_stop_signal);
    std::signal(SIGTERM, on_stop_signal);
#else
    // No SA_RESTART: a read blocked on a slow source returns EINTR, and
    // FFmpeg then asks interrupt_callback whether to go on.
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
#endif
}

bool interrupted()
{
    return g_stop != 0;
}

void stop_if_interrupted()
{
    if (interrupted())
        throw Interrupted();
}

int interrupt_callback(void*)
{
    return g_stop != 0;
}

}  // namespace mp
