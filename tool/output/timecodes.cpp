#include "output/timecodes.hpp"

extern "C" {
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace mp {

std::string format_ms(int64_t ns)
{
    // Work on the magnitude as unsigned so INT64_MIN cannot overflow.
    const bool negative = ns < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(ns) : static_cast<uint64_t>(ns);
    const uint64_t whole = magnitude / 1000000;
    uint64_t fraction = magnitude % 1000000;

    std::string text = negative ? "-" : "";
    text += std::to_string(whole);
    if (fraction != 0) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%06llu", static_cast<unsigned long long>(fraction));
        std::string decimals(digits);
        while (!decimals.empty() && decimals.back() == '0')
            decimals.pop_back();
        text += "." + decimals;
    }
    return text;
}

void TimecodeList::add(const FrameTime& frame)
{
    const bool in_range = frame.ns >= -kMaxTimeNs && frame.ns <= kMaxTimeNs &&
                          (!frame.duration_ns || (*frame.duration_ns >= 0 && *frame.duration_ns <= kMaxTimeNs));
    if (!in_range)
        throw std::invalid_argument("frame time out of range");
    last_added_is_latest_ = times_.empty() || frame.ns > latest_ns_;
    if (last_added_is_latest_) {
        latest_ns_ = frame.ns;
        latest_duration_ = frame.duration_ns;
    } else if (frame.ns == latest_ns_ && frame.duration_ns) {
        // Equal timestamps sort by duration, so the longer one ends the list.
        if (!latest_duration_ || *frame.duration_ns > *latest_duration_)
            latest_duration_ = frame.duration_ns;
    }
    times_.push_back(frame.ns);
}

void TimecodeList::last_added_lasts(int64_t duration_ns)
{
    if (last_added_is_latest_ && !latest_duration_ && duration_ns >= 0 && duration_ns <= kMaxTimeNs)
        latest_duration_ = duration_ns;
}

namespace {

// `ns` to the nearest multiple of `step`, halves away from zero.
int64_t to_step(int64_t ns, int64_t step)
{
    return av_rescale_rnd(ns, 1, step, AV_ROUND_NEAR_INF) * step;
}

}  // namespace

void TimecodeList::finish(Timeline timeline)
{
    std::sort(times_.begin(), times_.end());
    if (times_.empty())
        return;
    const int64_t last = times_.back();
    if (latest_duration_)
        end_ns_ = last + *latest_duration_;
    else if (times_.size() >= 2)
        end_ns_ = last + (last - times_[times_.size() - 2]);
    else
        end_ns_ = last;
    const int64_t origin = timeline.from_first_frame ? times_.front() : 0;
    end_ns_ -= origin;
    for (int64_t& t : times_)
        t -= origin;
    if (timeline.step_ns > 0) {
        for (int64_t& t : times_)
            t = to_step(t, timeline.step_ns);
        end_ns_ = to_step(end_ns_, timeline.step_ns);
    }
}

FrameTime block_frame_time(int64_t ns, std::optional<int64_t> stored_ns, int64_t tick_ns, int64_t default_ns)
{
    FrameTime t;
    t.ns = ns;
    const int64_t tick = std::max<int64_t>(tick_ns, 1);
    if (stored_ns) {
        const bool cut_default = default_ns >= 0 && *stored_ns > 0 && *stored_ns <= default_ns &&
                                 default_ns - *stored_ns < tick;
        t.duration_ns = cut_default ? default_ns : *stored_ns;
    } else if (default_ns >= 0) {
        t.duration_ns = default_ns;
    }
    return t;
}

namespace {

// `a` * `b` / `c` rounded to the nearest, halves away from zero; nullopt
// when it lies further than kMaxTimeNs from zero.
std::optional<int64_t> scaled(int64_t a, int64_t b, int64_t c)
{
    if (b < 0 || c <= 0)
        return std::nullopt;
    const int64_t r = av_rescale_rnd(a, b, c, AV_ROUND_NEAR_INF);
    if (r == std::numeric_limits<int64_t>::min() || r < -kMaxTimeNs || r > kMaxTimeNs)
        return std::nullopt;
    return r;
}

std::optional<FrameTime> checked(const FrameTime& t)
{
    if (t.duration_ns && *t.duration_ns > kMaxTimeNs)
        return std::nullopt;
    return t;
}

}  // namespace

std::optional<int64_t> ticks_to_ns(int64_t ticks, TimeBase base)
{
    if (base.num <= 0 || base.den <= 0)
        return std::nullopt;
    return scaled(ticks, int64_t{base.num} * 1000000000, base.den);
}

std::optional<FrameTime> frame_time(int64_t ticks, int64_t duration_ticks, TimeBase base, int64_t default_ns)
{
    const std::optional<int64_t> ns = ticks_to_ns(ticks, base);
    const std::optional<int64_t> tick_ns = ticks_to_ns(1, base);
    if (!ns || !tick_ns)
        return std::nullopt;
    std::optional<int64_t> stored_ns;
    if (duration_ticks > 0) {
        stored_ns = ticks_to_ns(duration_ticks, base);
        if (!stored_ns)
            return std::nullopt;
    }
    return checked(block_frame_time(*ns, stored_ns, *tick_ns, default_ns > 0 ? default_ns : -1));
}

std::optional<FrameTime> block_time(int64_t ticks, std::optional<uint64_t> duration_ticks, uint64_t scale_ns,
                                    int64_t default_ns)
{
    if (scale_ns == 0 || scale_ns > static_cast<uint64_t>(kMaxTimeNs))
        return std::nullopt;
    const auto scale = static_cast<int64_t>(scale_ns);
    const std::optional<int64_t> ns = scaled(ticks, scale, 1);
    if (!ns)
        return std::nullopt;
    std::optional<int64_t> stored_ns;
    if (duration_ticks) {
        if (*duration_ticks > static_cast<uint64_t>(kMaxTimeNs))
            return std::nullopt;
        stored_ns = scaled(static_cast<int64_t>(*duration_ticks), scale, 1);
        if (!stored_ns)
            return std::nullopt;
    }
    return checked(block_frame_time(*ns, stored_ns, scale, default_ns > 0 ? default_ns : -1));
}

bool TimecodeList::write(std::FILE* out) const
{
    if (std::fputs("# timecode format v2\n", out) < 0)
        return false;
    for (const int64_t t : times_) {
        const std::string line = format_ms(t) + "\n";
        if (std::fputs(line.c_str(), out) < 0)
            return false;
    }
    if (!times_.empty()) {
        const std::string line = format_ms(end_ns()) + "\n";
        if (std::fputs(line.c_str(), out) < 0)
            return false;
    }
    return true;
}

}  // namespace mp
