#include "output/frame_rate.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>

namespace mp {
namespace {

constexpr int64_t kMaxRateDenominator = 1001;
constexpr int64_t kNsPerSecond = 1000000000;

}  // namespace

std::optional<Rational> reduce_rate(Rational rate)
{
    if (rate.num <= 0 || rate.den <= 0)
        return std::nullopt;
    const long double exact = static_cast<long double>(rate.num) / static_cast<long double>(rate.den);
    if (!(exact <= static_cast<long double>(INT32_MAX)) || exact * kMaxRateDenominator < 1)
        return std::nullopt;

    // Already small: keep it exactly.
    const int64_t g = std::gcd(rate.num, rate.den);
    if (rate.den / g <= kMaxRateDenominator && rate.num / g <= INT32_MAX)
        return Rational{rate.num / g, rate.den / g};

    // Rates rounded through a nanosecond frame duration (1e9/41708333) come
    // back to a whole rate or to an NTSC rate n/1001. Checked explicitly,
    // since some other fraction (7001/292) can be just as close.
    for (const int64_t den : {int64_t{1}, kMaxRateDenominator}) {
        const long double num = std::round(exact * static_cast<long double>(den));
        if (num >= 1 && std::fabs(num / static_cast<long double>(den) - exact) <= exact * 1e-6L)
            return Rational{static_cast<int64_t>(num), den};
    }

    // An irregular average: the closest fraction within the bounds.
    // av_reduce bounds numerator and denominator alike; given only the part
    // below one, its bound falls on the denominator, and the whole part
    // added back keeps the numerator within 32 bits.
    const int64_t whole = rate.num / rate.den;
    const int64_t max_den = std::clamp<int64_t>(INT32_MAX / (whole + 1), 1, kMaxRateDenominator);
    int part_num = 0;
    int den = 1;
    av_reduce(&part_num, &den, rate.num % rate.den, rate.den, max_den);
    const int64_t num = whole * den + part_num;
    if (num <= 0)
        return std::nullopt;
    return Rational{num, den};
}

Rational nominal_rate(AVRational average, int64_t default_duration_ns)
{
    if (average.num > 0 && average.den > 0)
        if (auto r = reduce_rate({average.num, average.den}))
            return *r;
    if (default_duration_ns > 0)
        if (auto r = reduce_rate({kNsPerSecond, default_duration_ns}))
            return *r;
    return Rational{25, 1};
}

}  // namespace mp
