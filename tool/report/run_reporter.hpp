// A run that reports back: its notification from start to outcome, and its
// line in the run record. Used by mp.exe with --notify or TCDEMUX_NOTIFY;
// without them none of this is set up.
#pragma once

#include "report/desktop_notifier.hpp"
#include "report/run_report.hpp"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace mp {

class RunReporter {
public:
    using Clock = std::function<ProgressPacer::Clock::time_point()>;

    // Shows the start of the run at once.
    RunReporter(RunFiles files, std::unique_ptr<Notifier> notifier, Clock clock = &ProgressPacer::Clock::now);

    // Every progress report of the run; a few become notification updates.
    void progress(int64_t bytes_read, int64_t bytes_total);

    // Turns the notification into the outcome, then appends the outcome to
    // the run record `record` (none when no record file can be named).
    // Neither can fail the run: what went wrong is one note line each on
    // `notes`.
    void finish(const RunOutcome& outcome, const std::optional<std::filesystem::path>& record, std::FILE* notes);

private:
    RunFiles files_;
    std::unique_ptr<Notifier> notifier_;
    Clock clock_;
    ProgressPacer pacer_;
};

}  // namespace mp
