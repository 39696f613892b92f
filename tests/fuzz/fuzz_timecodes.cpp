// Fuzz target: the timecodes arithmetic. The input is read as frames
// (timestamp and duration in ticks, a time base, a default duration) and
// rates; every value a file could give is tried. Frames get their time
// both ways a run gives them one, as a packet's ticks (frame_time) and as
// a Matroska block's (block_time), into a timecode list, and the file it
// writes must list every frame, sorted, with exact millisecond values and
// an end line not before the last frame.
#include "output/frame_rate.hpp"
#include "output/timecodes.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Takes the next bytes of the input as a number, zero once it runs out.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    template <typename T>
    T next()
    {
        T value{};
        const size_t n = std::min(sizeof value, size_ - std::min(at_, size_));
        std::memcpy(&value, data_ + at_, n);
        at_ += sizeof value;
        return value;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// The nanoseconds a line of the file stands for ("-12.5" is -12500000).
int64_t parse_ms(const std::string& line)
{
    const bool negative = !line.empty() && line[0] == '-';
    const std::string digits = negative ? line.substr(1) : line;
    const size_t dot = digits.find('.');
    const std::string whole = digits.substr(0, dot);
    std::string fraction = dot == std::string::npos ? "" : digits.substr(dot + 1);
    if (whole.empty() || fraction.size() > 6 || (!fraction.empty() && fraction.back() == '0'))
        std::abort();
    fraction.resize(6, '0');
    const __int128 ns = static_cast<__int128>(std::stoull(whole)) * 1000000 + std::stoll(fraction);
    return static_cast<int64_t>(negative ? -ns : ns);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in(data, size);
    const mp::TimeBase base{in.next<int32_t>(), in.next<int32_t>()};
    const int64_t default_ns = in.next<int64_t>();
    const mp::Rational rate{in.next<int64_t>(), in.next<int64_t>()};

    if (const std::optional<mp::Rational> r = mp::reduce_rate(rate))
        if (r->num <= 0 || r->num > INT32_MAX || r->den <= 0 || r->den > 1001)
            std::abort();
    const mp::Rational nominal = mp::nominal_rate(AVRational{static_cast<int>(rate.num), static_cast<int>(rate.den)},
                                                  default_ns);
    if (nominal.num <= 0 || nominal.den <= 0)
        std::abort();

    mp::TimecodeList list;
    std::vector<int64_t> added;
    while (!in.empty() && added.size() < 4096) {
        const int64_t ticks = in.next<int64_t>();
        const int64_t duration = in.next<int64_t>();
        const std::optional<int64_t> tick_ns = mp::ticks_to_ns(1, base);
        const std::optional<mp::FrameTime> t =
            (ticks & 1) && tick_ns && *tick_ns > 0
                ? mp::block_time(ticks, duration < 0 ? std::nullopt : std::optional<uint64_t>(duration),
                                 static_cast<uint64_t>(*tick_ns), default_ns)
                : mp::frame_time(ticks, duration, base, default_ns);
        if (!t)
            continue;
        if (mp::format_ms(t->ns).empty() || parse_ms(mp::format_ms(t->ns)) != t->ns)
            std::abort();
        list.add(*t);
        added.push_back(t->ns);
    }
    if (added.empty())
        return 0;
    list.finish();
    std::sort(added.begin(), added.end());
    if (list.sorted() != added || list.end_ns() < added.back())
        std::abort();

    std::FILE* out = std::tmpfile();
    if (!out)
        return 0;
    if (!list.write(out))
        std::abort();
    std::rewind(out);
    std::vector<std::string> lines;
    char line[64];
    while (std::fgets(line, sizeof line, out)) {
        std::string text(line);
        if (text.empty() || text.back() != '\n')
            std::abort();
        text.pop_back();
        lines.push_back(text);
    }
    std::fclose(out);
    if (lines.size() != added.size() + 2 || lines[0] != "# timecode format v2")
        std::abort();
    for (size_t i = 0; i < added.size(); ++i)
        if (parse_ms(lines[i + 1]) != added[i])
            std::abort();
    if (parse_ms(lines.back()) != list.end_ns())
        std::abort();
    return 0;
}
