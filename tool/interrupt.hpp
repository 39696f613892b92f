// Stopping a run on SIGINT, SIGTERM or SIGHUP: the handlers only set a flag,
// which the copy loops, FFmpeg's I/O and the final commit check, so a stop
// always ends like an error, with the temporaries removed.
#pragma once

namespace mp {

// Installs the handlers; call once, before the run.
void install_interrupt_handlers();

// Whether a stop was requested.
bool interrupted();

// Throws Interrupted when a stop was requested.
void stop_if_interrupted();

// For AVIOInterruptCB: nonzero makes FFmpeg abort blocking I/O.
int interrupt_callback(void* unused);

}  // namespace mp
