// Pure logic for timestamps: a frame's time from its block, millisecond
// formatting and the timecode v2 file.
//
// Values read from a file can be anything a 64-bit field holds. A frame
// whose start or duration lies further than kMaxTimeNs from zero (about 36
// years) cannot be placed in time: frame_time() refuses it, and the ways
// treat it as damage at that frame. Every sum and difference the timecode
// file needs then fits in 64 bits.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace mp {

constexpr int64_t kMaxTimeNs = int64_t{1} << 60;

// Nanoseconds as milliseconds: an integer, or up to 6 decimals without
// trailing zeros ("1000", "1140.5", "2194.3367", "-0.5").
std::string format_ms(int64_t ns);

// A time base in seconds, as libavformat gives a stream's (num/den > 0).
struct TimeBase {
    int num = 0;
    int den = 1;
};

// `ticks` of `base` in nanoseconds, rounded to the nearest with halves away
// from zero (as libavformat rescales); nullopt for an invalid base or a
// result further than kMaxTimeNs from zero.
std::optional<int64_t> ticks_to_ns(int64_t ticks, TimeBase base);

// One frame's block timestamp and duration, both in nanoseconds; duration is
// nullopt when the file gives none.
struct FrameTime {
    int64_t ns = 0;
    std::optional<int64_t> duration_ns;
    friend bool operator==(const FrameTime&, const FrameTime&) = default;
};

// A frame's time from its timestamp `ns` and the duration stored for it,
// `stored_ns` (none, or 0 and more as stored), given the tick `tick_ns` of
// the stored values and the track's default duration `default_ns`
// (negative when none). A stored duration a fraction of a tick short of
// the default is the default cut to whole ticks, and the exact default is
// used instead; without a stored duration, the default applies.
FrameTime block_frame_time(int64_t ns, std::optional<int64_t> stored_ns, int64_t tick_ns, int64_t default_ns);

// The same from a timestamp and a duration in ticks of `base`, as the
// demuxer hands them over (a duration of 0 or less: none). nullopt when the
// frame's start or duration lies further than kMaxTimeNs from zero.
std::optional<FrameTime> frame_time(int64_t ticks, int64_t duration_ticks, TimeBase base, int64_t default_ns);

// The same from a Matroska block as stored: its timestamp and its
// BlockDuration (when stored) in ticks of `scale_ns` nanoseconds each.
std::optional<FrameTime> block_time(int64_t ticks, std::optional<uint64_t> duration_ticks, uint64_t scale_ns,
                                    int64_t default_ns);

// How the times of a source are written: as the file stores them, or
// counted from its first frame, and exactly or in whole steps.
struct Timeline {
    bool from_first_frame = false;  // the earliest frame at 0
    int64_t step_ns = 0;            // rounded to the nearest step (0: exact)
};

// Collects frame timestamps in storage order and produces the v2 file.
// Keeps 8 bytes per frame plus the duration of the latest frame.
class TimecodeList {
public:
    // Adds a frame as frame_time() gives it; throws std::invalid_argument
    // for one further than kMaxTimeNs from zero, which never reaches here.
    void add(const FrameTime& frame);
    // The frame added last turns out to last `duration_ns` (learnt from the
    // frame after it); ignored when it has a duration already.
    void last_added_lasts(int64_t duration_ns);
    std::size_t size() const { return times_.size(); }

    // Sorts the timestamps into display order and puts them on `timeline`;
    // call once, after the last add.
    void finish(Timeline timeline = {});
    const std::vector<int64_t>& sorted() const { return times_; }

    // End of the last frame in display order: its timestamp plus its duration,
    // or plus the last frame interval when it has none (plus 0 for a single
    // frame without a duration), on the same timeline. Only valid after
    // finish() with size() > 0.
    int64_t end_ns() const { return end_ns_; }

    // Writes "# timecode format v2", one line per frame and the end line.
    // Returns false on a write error (errno is left set).
    bool write(std::FILE* out) const;

private:
    std::vector<int64_t> times_;
    int64_t latest_ns_ = 0;
    std::optional<int64_t> latest_duration_;
    bool last_added_is_latest_ = false;
    int64_t end_ns_ = 0;
};

}  // namespace mp
