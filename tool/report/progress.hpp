// A one-line progress display on stderr, shown only when stderr is a
// terminal and redrawn at most ten times a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>

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

    // Also handed every update, shown or not: the desktop notification
    // follows the same progress with its own pace.
    using Listener = std::function<void(int64_t bytes_read, int64_t bytes_total, int64_t frames)>;
    void set_listener(Listener listener) { listener_ = std::move(listener); }

private:
    std::FILE* out_;
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
    Listener listener_;
};

bool stderr_is_terminal();

}  // namespace mp
