#pragma once
// TextTools: the delimited-text splitter PickField with its shared counter
// FieldCursor, and the narrow code-page round trip AnsiRoundTrip.
// Standard C++ only (plus iconv on POSIX, the Win32 API on Windows).

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace TextTools {

// A field value: a string, or empty (no value). Where a caller uses it as a
// string, empty reads as "" (see AsText).
using FieldValue = std::optional<std::u16string>;

inline std::u16string AsText(const FieldValue& value) { return value.value_or(std::u16string{}); }

// Raised when the field counter or the index would leave the 32-bit signed range.
class OverflowError : public std::overflow_error {
public:
    using std::overflow_error::overflow_error;
};

// Shared by every call and by both modes of PickField; 0 at program start.
// The field mode keeps the number of the field last returned for "next field"
// calls in it; the last-delimiter mode overwrites it with its source's length.
extern std::int32_t FieldCursor;

// Two modes, chosen by the first three characters of the pattern:
// - "1\0" followed by one unexamined character and a delimiter (the rest):
//   index 1 gives everything up to and including the last delimiter, index 0
//   everything after it, any other index gives empty.
// - anything else: the whole pattern is the delimiter; index n >= 1 gives
//   field n, index 0 the field after the one the previous "next" call gave,
//   a negative index gives "" after stepping through the source.
// Positions follow 1-based character arithmetic on UTF-16 code units.
FieldValue PickField(std::u16string source, std::u16string pattern, std::int32_t index);

// Passes the text through the process's narrow code page and back: characters
// the code page lacks come back as "?". On POSIX the code page is the
// character set of the process locale (LC_CTYPE), on Windows the ANSI code page.
std::u16string AnsiRoundTrip(const std::u16string& text);

#ifndef _WIN32
// The same round trip through a named iconv character set, e.g. "UTF-8",
// "BIG5", "CP950", "ASCII". Throws std::invalid_argument for an unknown set.
std::u16string AnsiRoundTrip(const std::u16string& text, const std::string& charset);

// The character set of the process locale as iconv names it.
std::string NarrowCharset();
#endif

} // namespace TextTools
