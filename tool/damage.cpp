#include "damage.hpp"

#include <cstdlib>

namespace mp {

std::optional<std::string> unreported_damage(const Source& source, int logged_errors, int64_t frames)
{
    if (logged_errors > 0)
        return source.name + " has damaged parts that had to be skipped";
    // Files written by mkvmerge list each track's frame count; fewer frames
    // than that means some were lost without the demuxer noticing.
    const AVDictionaryEntry* listed = av_dict_get(source.stream->metadata, "NUMBER_OF_FRAMES", nullptr, 0);
    if (!listed)
        return std::nullopt;
    char* end = nullptr;
    const long long expected = std::strtoll(listed->value, &end, 10);
    if (!end || *end != '\0' || expected <= frames)
        return std::nullopt;
    return source.name + " has " + std::to_string(frames) + " readable frames of the " + std::to_string(expected) +
           " its header lists";
}

}  // namespace mp
