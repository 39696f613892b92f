#include "text/text_tools.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <bit>
#include <cerrno>
#include <iconv.h>
#include <langinfo.h>
#endif

#include <algorithm>
#include <cstring>
#include <vector>

namespace TextTools {

#ifdef _WIN32

std::u16string AnsiRoundTrip(const std::u16string& text) {
    if (text.empty()) return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int wideLength = static_cast<int>(text.size());
    const int narrowLength = WideCharToMultiByte(CP_ACP, 0, wide, wideLength, nullptr, 0, nullptr, nullptr);
    if (narrowLength <= 0) throw std::runtime_error("Cannot convert text to the ANSI code page");
    std::string narrow(static_cast<std::size_t>(narrowLength), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, wideLength, narrow.data(), narrowLength, nullptr, nullptr);
    const int backLength = MultiByteToWideChar(CP_ACP, 0, narrow.data(), narrowLength, nullptr, 0);
    std::u16string back(static_cast<std::size_t>(backLength), u'\0');
    MultiByteToWideChar(CP_ACP, 0, narrow.data(), narrowLength, reinterpret_cast<wchar_t*>(back.data()),
                        backLength);
    return back;
}

#else

namespace {

// UTF-16 in the machine's own byte order, so char16_t data can be handed to
// iconv as it lies in memory.
constexpr const char* kUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

class Converter {
public:
    Converter(const std::string& to, const std::string& from)
        : handle_(iconv_open(to.c_str(), from.c_str())) {
        if (handle_ == reinterpret_cast<iconv_t>(-1))
            throw std::invalid_argument("Unknown character set conversion: " + from + " to " + to);
    }
    ~Converter() { iconv_close(handle_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts the whole input; a unit that the target cannot hold (or that is
    // malformed) is skipped and `replacement` is written in its place.
    std::string Convert(const char* data, std::size_t size, std::size_t skipUnit, const std::string& replacement) {
        std::string out;
        std::vector<char> buffer(256 + size * 4);
        auto* in = const_cast<char*>(data);
        std::size_t inLeft = size;
        while (true) {
            char* outPtr = buffer.data();
            std::size_t outLeft = buffer.size();
            const std::size_t result = iconv(handle_, inLeft > 0 ? &in : nullptr, &inLeft, &outPtr, &outLeft);
            const int error = errno;
            out.append(buffer.data(), static_cast<std::size_t>(outPtr - buffer.data()));
            if (result != static_cast<std::size_t>(-1)) {
                if (inLeft == 0) break;
                continue;
            }
            if (error == E2BIG) continue;
            // EILSEQ or EINVAL: an unconvertible or incomplete unit.
            const std::size_t skip = SkipLength(in, inLeft, skipUnit);
            in += skip;
            inLeft -= skip;
            out += replacement;
            if (inLeft == 0) {
                iconv(handle_, nullptr, nullptr, nullptr, nullptr);
                break;
            }
        }
        return out;
    }

private:
    // In UTF-16 a surrogate pair is one character; skip both halves together.
    static std::size_t SkipLength(const char* in, std::size_t left, std::size_t unit) {
        if (unit != sizeof(char16_t) || left < 2 * sizeof(char16_t)) return std::min(unit, left);
        char16_t first = 0;
        char16_t second = 0;
        std::memcpy(&first, in, sizeof first);
        std::memcpy(&second, in + sizeof first, sizeof second);
        const bool pair = first >= 0xD800 && first <= 0xDBFF && second >= 0xDC00 && second <= 0xDFFF;
        return pair ? 2 * sizeof(char16_t) : sizeof(char16_t);
    }

    iconv_t handle_;
};

} // namespace

std::u16string AnsiRoundTrip(const std::u16string& text, const std::string& charset) {
    Converter toNarrow(charset, kUtf16);
    Converter toWide(kUtf16, charset);
    if (text.empty()) return {};
    const std::string narrow = toNarrow.Convert(reinterpret_cast<const char*>(text.data()),
                                                text.size() * sizeof(char16_t), sizeof(char16_t), "?");
    const char16_t question = u'?';
    const std::string wide = toWide.Convert(narrow.data(), narrow.size(), 1,
                                            std::string(reinterpret_cast<const char*>(&question), sizeof question));
    std::u16string back(wide.size() / sizeof(char16_t), u'\0');
    std::memcpy(back.data(), wide.data(), back.size() * sizeof(char16_t));
    return back;
}

std::string NarrowCharset() {
    const char* codeset = nl_langinfo(CODESET);
    return codeset && *codeset ? codeset : "ASCII";
}

std::u16string AnsiRoundTrip(const std::u16string& text) { return AnsiRoundTrip(text, NarrowCharset()); }

#endif

} // namespace TextTools
