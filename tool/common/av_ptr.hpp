// Owning pointers for FFmpeg objects: each is freed by its own FFmpeg call,
// on every path out of a scope.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

#include "common/free_with.hpp"

namespace mp {

// An I/O context made with avio_alloc_context owns its buffer only in name.
inline void free_custom_io(AVIOContext** io)
{
    av_freep(&(*io)->buffer);
    avio_context_free(io);
}

using InputFormatPtr = FreedPtr<AVFormatContext, avformat_close_input>;
// The AVI muxer's context; its I/O context is always our own and is freed
// by its owner.
using OutputFormatPtr = FreedPtr<AVFormatContext, avformat_free_context>;
using PacketPtr = FreedPtr<AVPacket, av_packet_free>;
using FramePtr = FreedPtr<AVFrame, av_frame_free>;
using CustomIoPtr = FreedPtr<AVIOContext, free_custom_io>;
using BsfPtr = FreedPtr<AVBSFContext, av_bsf_free>;
using CodecContextPtr = FreedPtr<AVCodecContext, avcodec_free_context>;

}  // namespace mp
