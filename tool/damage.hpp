// Damage a way does not report itself, judged once the frames are written.
#pragma once

#include "source.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace mp {

// What is wrong with a source of which `frames` frames were read, given
// `logged_errors` errors the demuxer logged while reading it: parts it
// skipped, or fewer frames than the header lists. nullopt when neither.
std::optional<std::string> unreported_damage(const Source& source, int logged_errors, int64_t frames);

}  // namespace mp
