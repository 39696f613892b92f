#include "common/interrupt.hpp"

#include "common/av_error.hpp"

#include <csignal>

#if !defined(_WIN32)
#include <pthread.h>
#endif

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
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, nullptr);
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

void clear_stop_request()
{
    g_stop = 0;
}

int interrupt_callback(void*)
{
    return g_stop != 0;
}

#if defined(_WIN32)
StopSignalsHeld::StopSignalsHeld() = default;
StopSignalsHeld::~StopSignalsHeld() = default;
#else
StopSignalsHeld::StopSignalsHeld()
{
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stops, &previous_);
}

StopSignalsHeld::~StopSignalsHeld()
{
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}
#endif

}  // namespace mp
