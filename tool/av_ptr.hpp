// Owning pointers for FFmpeg objects: each is freed by its own FFmpeg call,
// on every path out of a scope.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

#include "free_with.hpp"

namespace mp {

// An I/O context made with avio_alloc_context owns its buffer only in name.
inline void free_custom_io(AVIOContext** io)
{
    av_freep(&(*io)->buffer);
    avio_context_free(io);
}

template <typename T, auto Free>
using AvPtr = FreedPtr<T, Free>;

using InputFormatPtr = AvPtr<AVFormatContext, avformat_close_input>;
// The AVI muxer's context; its I/O context is always our own and is freed
// by its owner.
using OutputFormatPtr = AvPtr<AVFormatContext, avformat_free_context>;
using PacketPtr = AvPtr<AVPacket, av_packet_free>;
using FramePtr = AvPtr<AVFrame, av_frame_free>;
using CustomIoPtr = AvPtr<AVIOContext, free_custom_io>;
using BsfPtr = AvPtr<AVBSFContext, av_bsf_free>;
using CodecContextPtr = AvPtr<AVCodecContext, avcodec_free_context>;

}  // namespace mp
