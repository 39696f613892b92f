#include "timecodes.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace mp {

constexpr int64_t kMaxRateDenominator = 1001;

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

std::optional<Rational> reduce_rate(Rational rate)
{
    if (rate.num <= 0 || rate.den <= 0)
        return std::nullopt;
    const long double exact = static_cast<long double>(rate.num) / static_cast<long double>(rate.den);
    if (!(exact <= static_cast<long double>(INT32_MAX)))
        return std::nullopt;

    // Already small: keep it exactly.
    const int64_t g = std::gcd(rate.num, rate.den);
    if (rate.den / g <= kMaxRateDenominator)
        return Rational{rate.num / g, rate.den / g};

    // Rates rounded through a nanosecond frame duration (1e9/41708333) come
    // back to a whole rate or to an NTSC rate n/1001. Checked explicitly,
    // since some other fraction (7001/292) can be just as close.
    for (const int64_t den : {int64_t{1}, kMaxRateDenominator}) {
        const long double num = std::round(exact * static_cast<long double>(den));
        if (num >= 1 && std::fabs(num / static_cast<long double>(den) - exact) <= exact * 1e-6L)
            return Rational{static_cast<int64_t>(num), den};
    }

    // An irregular average: the closest continued-fraction convergent
    // with a denominator up to 1001.
    int64_t p_prev = 1, q_prev = 0;
    int64_t p = rate.num / rate.den, q = 1;
    int64_t n = rate.num % rate.den, d = rate.den;  // remaining fraction n/d
    std::optional<Rational> best;
    while (q <= kMaxRateDenominator) {
        if (p > 0)
            best = Rational{p, q};
        if (n == 0)
            break;
        const int64_t a = d / n;
        const int64_t rem = d % n;
        d = n;
        n = rem;
        if (a > (INT32_MAX - p_prev) / std::max<int64_t>(p, 1))
            break;
        const int64_t p_next = a * p + p_prev;
        const int64_t q_next = a * q + q_prev;
        p_prev = p;
        q_prev = q;
        p = p_next;
        q = q_next;
    }
    // Nothing for rates below 1/1001 fps.
    return best;
}

void TimecodeList::add(const FrameTime& frame)
{
    if (times_.empty() || frame.ns > latest_ns_) {
        latest_ns_ = frame.ns;
        latest_duration_ = frame.duration_ns;
    } else if (frame.ns == latest_ns_ && frame.duration_ns) {
        // Equal timestamps sort by duration, so the longer one ends the list.
        if (!latest_duration_ || *frame.duration_ns > *latest_duration_)
            latest_duration_ = frame.duration_ns;
    }
    times_.push_back(frame.ns);
}

void TimecodeList::finish()
{
    std::sort(times_.begin(), times_.end());
}

FrameTime block_frame_time(int64_t ns, int64_t stored_duration_ns, int64_t tick_ns, int64_t default_ns)
{
    FrameTime t;
    t.ns = ns;
    const int64_t tick = std::max<int64_t>(tick_ns, 1);
    if (stored_duration_ns > 0) {
        const bool cut_default =
            default_ns >= 0 && stored_duration_ns <= default_ns && default_ns - stored_duration_ns < tick;
        t.duration_ns = cut_default ? default_ns : stored_duration_ns;
    } else if (default_ns >= 0) {
        t.duration_ns = default_ns;
    }
    return t;
}

int64_t TimecodeList::end_ns() const
{
    const int64_t last = times_.back();
    if (latest_duration_)
        return last + *latest_duration_;
    if (times_.size() >= 2)
        return last + (last - times_[times_.size() - 2]);
    return last;
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
