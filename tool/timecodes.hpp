// Pure logic for timestamps: millisecond formatting, the timecode v2 file,
// and picking a small nominal frame rate.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace mp {

struct Rational {
    int64_t num = 0;
    int64_t den = 1;
    friend bool operator==(const Rational&, const Rational&) = default;
};

// Nanoseconds as milliseconds: an integer, or up to 6 decimals without
// trailing zeros ("1000", "1140.5", "2194.3367", "-0.5").
std::string format_ms(int64_t ns);

// A small rational for `rate` (frames per second) in the AVI header: the
// rate itself when its reduced denominator is at most 1001; else a whole
// rate or n/1001 when within one part in a million (1e9/41708333 becomes
// 24000/1001, 1e9/40000000 becomes 25/1); else, for an irregular average,
// the closest continued-fraction convergent with a denominator up to 1001.
// Returns nullopt for a rate that is zero, negative, above INT32_MAX or
// below 1/1001.
std::optional<Rational> reduce_rate(Rational rate);

// One frame's block timestamp and duration, both in nanoseconds; duration is
// nullopt when the file gives none.
struct FrameTime {
    int64_t ns = 0;
    std::optional<int64_t> duration_ns;
};

// A Matroska frame's time from its block timestamp `ns` and the duration
// stored for it, `stored_duration_ns` (0 or less when none), given the
// file's timestamp scale `tick_ns` and the track's default duration
// `default_ns` (negative when none). A stored duration a fraction of a tick
// short of the default is the default cut to whole ticks, and the exact
// default is used instead; without a stored duration, the default applies.
FrameTime block_frame_time(int64_t ns, int64_t stored_duration_ns, int64_t tick_ns, int64_t default_ns);

// Collects frame timestamps in storage order and produces the v2 file.
// Keeps 8 bytes per frame plus the duration of the latest frame.
class TimecodeList {
public:
    void add(const FrameTime& frame);
    std::size_t size() const { return times_.size(); }

    // Sorts the timestamps into display order; call once, after the last add.
    void finish();
    const std::vector<int64_t>& sorted() const { return times_; }

    // End of the last frame in display order: its timestamp plus its duration,
    // or plus the last frame interval when it has none (plus 0 for a single
    // frame without a duration). Only valid after finish() with size() > 0.
    int64_t end_ns() const;

    // Writes "# timecode format v2", one line per frame and the end line.
    // Returns false on a write error (errno is left set).
    bool write(std::FILE* out) const;

private:
    std::vector<int64_t> times_;
    int64_t latest_ns_ = 0;
    std::optional<int64_t> latest_duration_;
};

}  // namespace mp
