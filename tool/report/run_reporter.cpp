#include "report/run_reporter.hpp"

#include "report/run_log.hpp"

namespace mp {

namespace {

// A note is one line whatever the reason holds.
std::string one_line(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

}  // namespace

RunReporter::RunReporter(RunFiles files, std::unique_ptr<Notifier> notifier, Clock clock)
    : files_(std::move(files)), notifier_(std::move(notifier)), clock_(std::move(clock)), pacer_(clock_())
{
    notifier_->update(started_notification(files_));
}

void RunReporter::progress(int64_t bytes_read, int64_t bytes_total)
{
    if (const std::optional<int> percent = pacer_.next(clock_(), bytes_read, bytes_total))
        notifier_->update(progress_notification(files_, *percent));
}

void RunReporter::finish(const RunOutcome& outcome, const std::optional<std::filesystem::path>& record,
                         std::FILE* notes)
{
    notifier_->finish(outcome_notification(files_, outcome));
    if (const std::optional<std::string> failure = notifier_->failure())
        std::fprintf(notes, "mp.exe: note: desktop notifications unavailable: %s\n", one_line(*failure).c_str());

    std::optional<std::string> record_failure;
    if (!record)
        record_failure = "no run record is kept on this system";
    else
        record_failure = append_run_log(*record, run_record_line(local_time_now(), files_, outcome));
    if (record_failure)
        std::fprintf(notes, "mp.exe: note: the run was not recorded: %s\n", one_line(*record_failure).c_str());
    std::fflush(notes);
}

}  // namespace mp
