// The run record: one line per run that reports to the desktop, appended to
// $XDG_STATE_HOME/tcdemux/runs.log, so no outcome is lost when its
// notification is gone. Kept to about 1 MiB plus one older generation.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace mp {

inline constexpr uint64_t kRunLogLimit = uint64_t{1} << 20;

// The record file for the given XDG_STATE_HOME and HOME values (either may
// be null): $XDG_STATE_HOME/tcdemux/runs.log, or with that unset, empty or
// relative (which the XDG base directory rules say to ignore)
// $HOME/.local/state/tcdemux/runs.log. Nothing without either.
std::optional<std::filesystem::path> run_log_path(const char* xdg_state_home, const char* home);

// Appends `line` (one whole line, newline included) with a single write on
// an O_APPEND descriptor, so concurrent runs never mix their lines. Missing
// folders are created (mode 0700). When the file would pass `limit`, it
// becomes `<file>.1` (replacing the older one) and a new file is begun;
// every step happens under an exclusive lock on the file, so two runs
// never rotate it twice. Returns why the line could not be written, if so.
std::optional<std::string> append_run_log(const std::filesystem::path& file, std::string_view line,
                                          uint64_t limit = kRunLogLimit);

// The current local time as run_record_line wants it.
std::string local_time_now();

}  // namespace mp
