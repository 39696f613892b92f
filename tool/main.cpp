// mp.exe entry point: argument handling and exit status; the work is in
// mp_core (demux.cpp).
#include "common/av_error.hpp"
#include "cli.hpp"
#include "demux.hpp"
#include "common/interrupt.hpp"
#include "report/progress.hpp"
#include "report/run_log.hpp"
#include "report/run_reporter.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

// Runs the job and prints its outcome: the summary on stdout, a warning or
// an error line on stderr. The outcome's exit status is the tool's.
mp::RunOutcome run(const mp::DemuxJob& job, mp::Progress& progress)
{
    mp::RunOutcome outcome;
    std::string failure;
    try {
        const mp::DemuxResult result = mp::run_demux(job, progress);
        progress.clear();
        outcome.frames = result.frames;
        outcome.replaced_avi = result.replaced_avi;
        outcome.replaced_timecodes = result.replaced_timecodes;
        outcome.notes = result.notes;
        for (const std::string& note : result.notes)
            std::fprintf(stderr, "mp.exe: note: %s\n", note.c_str());
        if (result.damage) {
            outcome.message = *result.damage + "; kept " + std::to_string(result.frames) + " frames in both outputs";
            std::fprintf(stderr, "mp.exe: warning: %s\n", outcome.message.c_str());
        }
        std::printf("%s\n", mp::summary_line(job, result).c_str());
        if (std::fflush(stdout) != 0) {
            outcome.exit_status = 2;
            outcome.message = "the summary could not be written to the standard output";
            return outcome;
        }
        outcome.exit_status = result.damage ? 1 : 0;
        return outcome;
    } catch (const mp::Error& e) {
        failure = e.what();
    } catch (const std::bad_alloc&) {
        failure = "out of memory";
    } catch (const std::exception& e) {
        failure = e.what();
    }
    progress.clear();
    std::fprintf(stderr, "mp.exe: error: %s\n", failure.c_str());
    outcome.exit_status = 2;
    outcome.message = failure;
    return outcome;
}

}  // namespace

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

    // Reporting to the desktop and the run record only when asked for:
    // otherwise no bus connection and no record, as from any script.
    std::optional<mp::RunReporter> reporter;
    if (mp::reporting_wanted(cmd.notify, std::getenv(mp::kNotifyVariable))) {
        reporter.emplace(mp::RunFiles::resolve(job.source, job.avi, job.timecodes), mp::connect_desktop_notifier());
        progress.set_listener([&reporter](int64_t bytes_read, int64_t bytes_total, int64_t) {
            reporter->progress(bytes_read, bytes_total);
        });
    }
    const mp::RunOutcome outcome = run(job, progress);
    if (reporter)
        reporter->finish(outcome, mp::run_log_path(), stderr);
    return outcome.exit_status;
}
