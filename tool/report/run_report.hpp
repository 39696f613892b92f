// What a run tells the desktop and its run record, as plain data: the texts
// of the one notification each run shows (updated in place), the pacing of
// its progress updates, and the record's line. No I/O here; the transport is
// desktop_notifier.*, the record file run_log.*.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mp {

// Names the notifications carry: the program's .desktop file (without the
// suffix) and its icon in the hicolor theme are both "tcdemux".
inline constexpr const char* kAppName = "tcdemux";
inline constexpr const char* kDesktopEntry = "tcdemux";
inline constexpr const char* kIconName = "tcdemux";

// The variable the window sets for every run it starts.
inline constexpr const char* kNotifyVariable = "TCDEMUX_NOTIFY";

// Whether the run reports to the desktop and the run record: --notify, or
// the variable set to anything but "" or "0". On Windows the run's minimized
// console window is its feedback, so there never.
bool reporting_wanted(bool notify_option, const char* variable_value);

// The freedesktop urgency levels.
enum class Urgency : uint8_t { Low = 0, Normal = 1, Critical = 2 };

// One state of the run's notification.
struct Notification {
    std::string summary;  // plain text
    std::string body;     // plain text; the transport escapes it for servers that read markup
    Urgency urgency = Urgency::Normal;
    int32_t expire_timeout_ms = -1;  // -1: the server's default; 0: never
    std::optional<int> percent;      // the standard "value" hint, 0..100
    std::string category;            // the standard "category" hint
};

// The run's three files, absolute.
struct RunFiles {
    std::filesystem::path source;
    std::filesystem::path avi;
    std::filesystem::path timecodes;

    // Resolves the names as given against the current folder. Their
    // folders are resolved where they exist (links, "..") so the record
    // says where the files really are; the file names stay as given.
    static RunFiles resolve(const std::filesystem::path& source, const std::filesystem::path& avi,
                            const std::filesystem::path& timecodes);
};

// How a run ended, as its exit status says.
struct RunOutcome {
    int exit_status = 2;  // 0 success, 1 warning, 2 error
    int64_t frames = 0;   // frames in both outputs (success and warning)
    // The warning or error sentence, without the "mp.exe: ..." prefix.
    std::string message;
    // Whether the outputs took the place of files that existed before.
    bool replaced_avi = false;
    bool replaced_timecodes = false;
    // What the source asks that the AVI file cannot carry (success and
    // warning), a sentence each.
    std::vector<std::string> notes;
};

Notification started_notification(const RunFiles& files);
Notification progress_notification(const RunFiles& files, int percent);
Notification outcome_notification(const RunFiles& files, const RunOutcome& outcome);

// Decides which progress reports become notification updates: none in the
// first second (a short run shows only its start and its outcome), then at
// most one every half second, only with a known size, and only when the
// percentage has grown, so the shown value never goes back.
class ProgressPacer {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kQuietStart{1000};
    static constexpr std::chrono::milliseconds kInterval{500};

    explicit ProgressPacer(Clock::time_point start) : start_(start) {}

    // The percentage to show now, if any.
    std::optional<int> next(Clock::time_point now, int64_t bytes_read, int64_t bytes_total);

private:
    Clock::time_point start_;
    std::optional<Clock::time_point> last_sent_;
    int last_percent_ = -1;
};

// A field of the record line: backslash, tab, line breaks and the other
// control characters escaped, so each line splits into its fields at tabs
// whatever the file names hold.
std::string escape_record_field(std::string_view text);

// One line of the run record, newline included: time, exit status, source,
// AVI, timecodes file and the run's message, separated by tabs.
std::string run_record_line(std::string_view time, const RunFiles& files, const RunOutcome& outcome);

}  // namespace mp
