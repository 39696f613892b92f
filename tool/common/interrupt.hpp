// Stopping a run on SIGINT, SIGTERM or SIGHUP: the handlers only set a flag,
// which the copy loops, FFmpeg's I/O and the final commit check, so a stop
// always ends like an error, with the temporaries removed.
#pragma once

#if !defined(_WIN32)
#include <signal.h>
#endif

namespace mp {

// Installs the handlers; call once, before the run. Also ignores SIGXFSZ,
// so that a write past the file-size limit (ulimit -f) fails with EFBIG and
// ends the run as an error, instead of killing it with its temporaries left.
void install_interrupt_handlers();

// Whether a stop was requested.
bool interrupted();

// Throws Interrupted when a stop was requested.
void stop_if_interrupted();

// Forgets a stop request, for a process that runs more than one job (the
// tests do).
void clear_stop_request();

// For AVIOInterruptCB: nonzero makes FFmpeg abort blocking I/O.
int interrupt_callback(void* unused);

// Holds SIGINT, SIGTERM and SIGHUP back in the calling thread while it
// lives: one that arrives meanwhile is delivered when it ends. For steps
// that must not be cut in two. (On Windows, where the handler runs in a
// thread of its own and only sets the flag, there is nothing to hold.)
class StopSignalsHeld {
public:
    StopSignalsHeld();
    ~StopSignalsHeld();
    StopSignalsHeld(const StopSignalsHeld&) = delete;
    StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;

private:
#if !defined(_WIN32)
    sigset_t previous_;
#endif
};

}  // namespace mp
