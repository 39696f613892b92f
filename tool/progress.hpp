// A one-line progress display on stderr, shown only when stderr is a
// terminal and redrawn at most ten times a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace mp {

class Progress {
public:
    // `enabled` is normally stderr_is_terminal().
    Progress(std::FILE* out, bool enabled) : out_(out), enabled_(enabled) {}
    ~Progress() { clear(); }

    // bytes_total <= 0 when the source size is unknown (a pipe).
    void update(int64_t bytes_read, int64_t bytes_total, int64_t frames);
    // Erases the line, before the summary or a message.
    void clear();

private:
    std::FILE* out_;
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
};

bool stderr_is_terminal();

}  // namespace mp
