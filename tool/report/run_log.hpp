// The run record: one line per run that reports to the desktop, appended to
// $XDG_STATE_HOME/tcdemux/runs.log, so no outcome is lost when its
// notification is gone. Kept to about 1 MiB plus one older generation.
// Linux only (run_log_glib.cpp); elsewhere there is none (run_log_none.cpp).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace mp {

inline constexpr uint64_t kRunLogLimit = uint64_t{1} << 20;

// The record file in the user's state folder (GLib's: $XDG_STATE_HOME, by
// default ~/.local/state): tcdemux/runs.log. Nothing where no record is
// kept.
std::optional<std::filesystem::path> run_log_path();

// Appends `line` (one whole line, newline included) with a single write on
// an O_APPEND descriptor, so concurrent runs never mix their lines. Missing
// folders are created (mode 0700). When the file would pass `limit`, it
// becomes `<file>.1` (replacing the older one) and a new file is begun;
// every step happens under an exclusive lock on the file, so two runs
// never rotate it twice. Returns why the line could not be written, if so.
std::optional<std::string> append_run_log(const std::filesystem::path& file, std::string_view line,
                                          uint64_t limit = kRunLogLimit);

// The current local time in ISO 8601 with its offset from UTC, as
// run_record_line wants it, e.g. "2026-03-01T14:05:09+01:00".
std::string local_time_now();

}  // namespace mp
