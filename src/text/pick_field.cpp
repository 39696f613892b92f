#include "text/text_tools.h"

#include <limits>

namespace TextTools {

std::int32_t FieldCursor = 0;

namespace {

constexpr std::u16string_view kLastDelimiterMarker = u"1\\0";
// The marker, then one character that is never examined; the delimiter follows.
constexpr std::size_t kDelimiterOffset = 4;

// Narrows a 64-bit result back to 32 bits, raising the overflow error when it does not fit.
std::int32_t Checked(std::int64_t value) {
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        throw OverflowError("Overflow");
    return static_cast<std::int32_t>(value);
}

std::int32_t CheckedAbs(std::int32_t value) {
    if (value == std::numeric_limits<std::int32_t>::min()) throw OverflowError("Overflow");
    return value < 0 ? -value : value;
}

std::int32_t CheckedLength(const std::u16string& text) {
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        throw OverflowError("Overflow");
    return static_cast<std::int32_t>(text.size());
}

// 1-based position of `what` in `text` (first or last occurrence), 0 when absent.
// An empty `what` never occurs: it would split nothing.
std::int64_t FirstPosition(const std::u16string& text, const std::u16string& what) {
    if (what.empty()) return 0;
    const auto at = text.find(what);
    return at == std::u16string::npos ? 0 : static_cast<std::int64_t>(at) + 1;
}

std::int64_t LastPosition(const std::u16string& text, const std::u16string& what) {
    if (what.empty()) return 0;
    const auto at = text.rfind(what);
    return at == std::u16string::npos ? 0 : static_cast<std::int64_t>(at) + 1;
}

// The first `count` characters; a count outside 0..length is clamped.
std::u16string Head(const std::u16string& text, std::int64_t count) {
    if (count <= 0) return {};
    return text.substr(0, static_cast<std::size_t>(count));
}

// The text from the 1-based position `start` to its end; a start before the
// first character reads from the first, one past the end gives "".
std::u16string TailFrom(const std::u16string& text, std::int64_t start) {
    if (start < 1) start = 1;
    if (start > static_cast<std::int64_t>(text.size())) return {};
    return text.substr(static_cast<std::size_t>(start - 1));
}

FieldValue PickAroundLastDelimiter(const std::u16string& source, const std::u16string& pattern,
                                   std::int32_t index) {
    FieldCursor = CheckedLength(source);
    const std::u16string delimiter =
        pattern.size() > kDelimiterOffset ? pattern.substr(kDelimiterOffset) : std::u16string{};
    const auto length = static_cast<std::int64_t>(delimiter.size());
    const std::int64_t pos = LastPosition(source, delimiter);
    switch (index) {
    case 1: return Head(source, pos - 1 + length);
    case 0: return TailFrom(source, pos + length);
    default: return std::nullopt;
    }
}

FieldValue PickNthField(std::u16string source, const std::u16string& delimiter, std::int32_t index) {
    if (index > 0) {
        FieldCursor = 0;
    } else if (index == 0) {
        FieldCursor = Checked(std::int64_t{FieldCursor} + 1);
        index = CheckedAbs(FieldCursor);
    }
    if (source.empty()) return std::nullopt;

    const auto delimiterLength = static_cast<std::int64_t>(delimiter.size());
    std::u16string field;
    do {
        index = Checked(std::int64_t{index} - 1);
        const std::int64_t d = FirstPosition(source, delimiter);
        field = d >= 2 ? Head(source, d - 1) : d == 0 ? source : std::u16string{};
        // Each step drops at least one character or ends the loop below, so
        // the loop ends even for a negative index.
        source = TailFrom(source, delimiterLength + d);
        if (d == 0 && index != 0) return std::u16string{};
    } while (index != 0);
    return field;
}

} // namespace

FieldValue PickField(std::u16string source, std::u16string pattern, std::int32_t index) {
    if (pattern.compare(0, kLastDelimiterMarker.size(), kLastDelimiterMarker) == 0)
        return PickAroundLastDelimiter(source, pattern, index);
    return PickNthField(std::move(source), pattern, index);
}

} // namespace TextTools
