// The proof that the direct way copies the stream libavformat chose, as the
// demuxer reads it. libavformat does not expose the Matroska track number
// behind a stream, so the track's first frames as our scan finds them are
// compared with the demuxer's own first packets of the stream: the same
// block (the packet position is the block's), the same size, time and key
// flag. The packets read for this are handed to the demuxer way again if it
// is taken after all.
#pragma once

#include "ffmpeg_log.hpp"
#include "source.hpp"

#include <cstddef>
#include <optional>
#include <string>

namespace mp {

// How many of the first frames are compared.
constexpr size_t kCheckedFrames = 4;

// Where the scan and the demuxer disagree, or libavformat logged an error
// (in `log`) up to the frames compared; nullopt when they agree. Call only
// when direct_way_refusal() gives none.
std::optional<std::string> direct_way_disagreement(Source& source, const LogCapture& log);

}  // namespace mp
