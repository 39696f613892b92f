#pragma once
// UTF-8 <-> UTF-16 for texts that cross from byte strings (exception
// messages, file-system names) into the window's 16-bit texts and back.
// Malformed input becomes U+FFFD rather than failing.

#include <string>
#include <string_view>

namespace TextTools {

std::u16string FromUtf8(std::string_view utf8);
std::string ToUtf8(std::u16string_view utf16);

} // namespace TextTools
