#include "common/av_error.hpp"

extern "C" {
#include <libavutil/error.h>
}

#include <cctype>
#include <cerrno>

namespace mp {

std::string av_error_text(int code)
{
    // FFmpeg's own wording for these is terse or technical; say what it
    // means for a user holding a media file.
    switch (code) {
    case AVERROR_INVALIDDATA:
        return "the data is not valid media data (damaged or not a media file)";
    case AVERROR_EOF:
        return "the file ends unexpectedly";
    case AVERROR_DEMUXER_NOT_FOUND:
        return "the file format is not recognised";
    case AVERROR_PATCHWELCOME:
        return "this kind of media data is not supported";
    case AVERROR(ENOSPC):
        return "the disk is full";
    case AVERROR(EFBIG):
        return "the file has reached the file-size limit (ulimit -f) or the largest size the file system allows";
    default:
        break;
    }
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, buffer, sizeof buffer) < 0)
        return "unknown error " + std::to_string(code);
    std::string text(buffer);
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

int av_code_of_errno(int err)
{
    return AVERROR(err);
}

int av_code_of(const std::error_code& ec)
{
    // The portable condition is an errno value also where the code itself is
    // the operating system's own (Windows).
    return AVERROR(ec.default_error_condition().value());
}

Error av_error(int code, std::string_view what)
{
    return Error(std::string(what) + ": " + av_error_text(code));
}

int av_check(int code, std::string_view what)
{
    if (code == AVERROR_EXIT)
        throw Interrupted();
    if (code < 0)
        throw av_error(code, what);
    return code;
}

std::string quote_name(std::string_view name)
{
    // Built in one string rather than with operator+ on temporaries, which
    // GCC 12 at -O3 wrongly reports as an overlapping copy (-Wrestrict).
    std::string quoted;
    quoted.reserve(name.size() + 2);
    quoted += '\'';
    quoted += name;
    quoted += '\'';
    return quoted;
}

}  // namespace mp
