// The frame rate written in the AVI header: the track's average rate as a
// small fraction.
#pragma once

#include <cstdint>
#include <optional>

extern "C" {
#include <libavutil/rational.h>
}

namespace mp {

// The fastest rate an AVI file written by libavformat holds: its AVI muxer
// gives faster video a coarser time base, in which frame numbers collide.
constexpr int64_t kMaxAviFramesPerSecond = 1000;

struct Rational {
    int64_t num = 0;
    int64_t den = 1;
    friend bool operator==(const Rational&, const Rational&) = default;
};

// A small rational for `rate` (frames per second) in the AVI header: the
// rate itself when its reduced denominator is at most 1001 (and its
// numerator fits in 32 bits); else a whole
// rate or n/1001 when within one part in a million (1e9/41708333 becomes
// 24000/1001, 1e9/40000000 becomes 25/1); else, for an irregular average,
// the closest fraction with a denominator up to 1001 and a numerator that
// fits in 32 bits. Returns nullopt for a rate that is zero, negative, above
// INT32_MAX or below 1/1001.
std::optional<Rational> reduce_rate(Rational rate);

// The rate for the AVI header from the demuxer's average rate (0/0 when it
// has none) or, failing that, the track's default frame duration in ns
// (negative when none); 25 fps when neither gives one.
Rational nominal_rate(AVRational average, int64_t default_duration_ns);

}  // namespace mp
