// The conversion of H.264/HEVC frames to start codes. Matroska stores them
// with length-prefixed NAL units, AVI needs start codes (and parameter sets
// in the stream), so those tracks go through FFmpeg's matching bitstream
// filter. Both ways convert each frame on its own.
#pragma once

#include "common/av_ptr.hpp"

#include <string>

namespace mp {

// Whether frames of `codec` need the conversion.
bool needs_conversion(AVCodecID codec);

// A fresh conversion for the frames of `stream`, or null when they need
// none. Fresh for each pass over the frames, since it keeps state from
// frame to frame. `name` names the source in errors.
BsfPtr make_conversion(const AVStream* stream, const std::string& name);

enum class Converted {
    One,           // exactly one frame came out, into `out`
    None,          // the frame was refused or gave nothing
    OneThenError,  // one frame came out, then the conversion failed
    Several,       // the frame came out split in two or more
};

// Runs one frame `in` (left blank) through the conversion; its output is in
// `out` unless the result is None.
Converted convert_frame(AVBSFContext* conversion, AVPacket* in, AVPacket* out);

}  // namespace mp
