// mp.exe entry point: argument handling and exit status; the work is in
// mp_core (demux.cpp).
#include "av_error.hpp"
#include "cli.hpp"
#include "demux.hpp"
#include "interrupt.hpp"
#include "progress.hpp"

#include <cstdio>
#include <exception>
#include <new>
#include <string_view>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

int main(int argc, char** argv)
{
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const mp::Command cmd = mp::parse_command_line(args);
    switch (cmd.kind) {
    case mp::Command::Kind::Help:
        std::fputs(mp::help_text().c_str(), stdout);
        return 0;
    case mp::Command::Kind::Version:
        std::fputs(mp::version_text().c_str(), stdout);
        return 0;
    case mp::Command::Kind::Usage:
        std::fprintf(stderr, "%s\n", mp::usage_line().c_str());
        return 2;
    case mp::Command::Kind::Run:
        break;
    }

#if defined(__GLIBC__)
    // Every frame passes through a few buffers of its size. glibc serves
    // large blocks with fresh mmap()s by default, so each frame would fault
    // in (and zero) new pages; keeping them in the heap reuses the same
    // memory. Bounded: only a handful of frame-sized blocks live at once.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
#endif
    mp::install_interrupt_handlers();
    mp::Progress progress(stderr, mp::stderr_is_terminal());
    const mp::DemuxJob job{cmd.source, cmd.avi, cmd.timecodes};
    std::string failure;
    try {
        const mp::DemuxResult result = mp::run_demux(job, progress);
        progress.clear();
        if (result.damage)
            std::fprintf(stderr, "mp.exe: warning: %s; kept %lld frames in both outputs\n",
                         result.damage->c_str(), static_cast<long long>(result.frames));
        std::printf("%s\n", mp::summary_line(job, result).c_str());
        if (std::fflush(stdout) != 0)
            return 2;
        return result.damage ? 1 : 0;
    } catch (const mp::Error& e) {
        failure = e.what();
    } catch (const std::bad_alloc&) {
        failure = "out of memory";
    } catch (const std::exception& e) {
        failure = e.what();
    }
    progress.clear();
    std::fprintf(stderr, "mp.exe: error: %s\n", failure.c_str());
    return 2;
}
