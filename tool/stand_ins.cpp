#include "stand_ins.hpp"

#include "nal_units.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <random>

namespace mp {

StandInMaker::StandInMaker(int length_size, size_t threshold)
    : length_size_(length_size), threshold_(std::clamp(threshold, kStandInHead, SourceReader::kMaxRead))
{
    uint64_t entropy = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    try {
        std::random_device random;
        entropy ^= (uint64_t{random()} << 32) ^ random();
    } catch (const std::exception&) {
        // No system entropy: the clock alone still gives a key that no
        // file made earlier can contain except by pure chance.
    }
    std::mt19937_64 mix(entropy);
    for (size_t i = 0; i < key_.size(); i += sizeof(uint64_t)) {
        const uint64_t word = mix();
        std::memcpy(key_.data() + i, &word, std::min(sizeof word, key_.size() - i));
    }
}

std::array<uint8_t, kMarkerSize> StandInMaker::next_marker()
{
    std::array<uint8_t, kMarkerSize> marker{};
    std::memcpy(marker.data(), key_.data(), key_.size());
    const uint64_t n = count_++;
    std::memcpy(marker.data() + key_.size(), &n, sizeof n);
    return marker;
}

bool StandInMaker::make(SourceReader& source, uint64_t offset, uint64_t size)
{
    frame_.clear();
    stand_ins_.clear();
    const auto field = static_cast<size_t>(length_size_);
    for (uint64_t at = 0; at < size;) {
        if (size - at < field)
            return false;
        const uint8_t* p = source.at(offset + at, field);
        if (!p)
            return false;
        const uint64_t length = read_length_field(p, length_size_);
        at += field;
        if (length > size - at)
            return false;
        const uint64_t body = offset + at;
        if (length <= threshold_) {
            const uint8_t* bytes = source.at(body, static_cast<size_t>(length));
            if (!bytes)
                return false;
            append_length_field(frame_, length, length_size_);
            frame_.insert(frame_.end(), bytes, bytes + length);
        } else {
            const uint8_t* head = source.at(body, kStandInHead);
            if (!head)
                return false;
            StandIn s;
            s.source_offset = static_cast<int64_t>(body);
            s.length = static_cast<size_t>(length);
            std::copy(head, head + kStandInHead, s.head.begin());
            s.marker = next_marker();
            append_length_field(frame_, kStandInHead + kMarkerSize, length_size_);
            frame_.insert(frame_.end(), s.head.begin(), s.head.end());
            frame_.insert(frame_.end(), s.marker.begin(), s.marker.end());
            stand_ins_.push_back(s);
        }
        at += length;
    }
    return true;
}

std::optional<std::vector<Piece>> expand_stand_ins(const uint8_t* converted, size_t converted_size,
                                                   const std::vector<StandIn>& stand_ins, FrameBuffer& frame,
                                                   size_t& frame_size)
{
    // Where each marker lies in the converted stand-in, in order.
    std::vector<size_t> marks;
    marks.reserve(stand_ins.size());
    size_t cursor = 0;
    size_t real_size = converted_size;
    for (const StandIn& s : stand_ins) {
        if (s.length <= kStandInHead)
            return std::nullopt;
        const auto* end = converted + converted_size;
        const auto* found = std::search(converted + cursor, end, s.marker.begin(), s.marker.end());
        const size_t at = static_cast<size_t>(found - converted);
        if (found == end || at < cursor + kStandInHead ||
            !std::equal(s.head.begin(), s.head.end(), converted + at - kStandInHead))
            return std::nullopt;
        marks.push_back(at);
        cursor = at + kMarkerSize;
        real_size += s.length - kStandInHead - kMarkerSize;
    }
    uint8_t* out = frame.reserve(real_size);
    std::vector<Piece> pieces;
    size_t from = 0;  // in the converted stand-in
    size_t to = 0;    // in the real frame
    auto literal = [&](size_t until) {
        if (until > from) {
            std::memcpy(out + to, converted + from, until - from);
            pieces.push_back({to, until - from, -1});
            to += until - from;
        }
    };
    for (size_t i = 0; i < stand_ins.size(); ++i) {
        literal(marks[i] - kStandInHead);
        pieces.push_back({to, stand_ins[i].length, stand_ins[i].source_offset});
        to += stand_ins[i].length;
        from = marks[i] + kMarkerSize;
    }
    literal(converted_size);
    frame_size = real_size;
    return pieces;
}

}  // namespace mp
