// Which way a run takes through the source, as --way chooses it.
#pragma once

#include <optional>
#include <string_view>

namespace mp {

enum class Way {
    Auto,     // the direct way when the source allows it, else the demuxer way
    Direct,   // the direct way only: an error when the source cannot take it
    Demuxer,  // the demuxer way only
};

// "auto", "direct" or "demuxer"; nullopt for anything else.
constexpr std::optional<Way> parse_way(std::string_view name)
{
    if (name == "auto")
        return Way::Auto;
    if (name == "direct")
        return Way::Direct;
    if (name == "demuxer")
        return Way::Demuxer;
    return std::nullopt;
}

}  // namespace mp
