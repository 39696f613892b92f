// Owning pointers for FFmpeg objects: each is freed by its own FFmpeg call,
// on every path out of a scope.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

#include <memory>

namespace mp {

struct InputFormatDeleter {
    void operator()(AVFormatContext* ctx) const { avformat_close_input(&ctx); }
};

// Closes the output file (if libavformat opened it) and frees the muxer
// context. On the success path the caller closes the file itself first to
// check for errors. A custom I/O context belongs to its creator.
struct OutputFormatDeleter {
    void operator()(AVFormatContext* ctx) const
    {
        if (ctx->pb && !(ctx->oformat->flags & AVFMT_NOFILE) && !(ctx->flags & AVFMT_FLAG_CUSTOM_IO))
            avio_closep(&ctx->pb);
        avformat_free_context(ctx);
    }
};

// An I/O context made with avio_alloc_context, and its buffer.
struct CustomIoDeleter {
    void operator()(AVIOContext* io) const
    {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};

struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};

struct BsfDeleter {
    void operator()(AVBSFContext* b) const { av_bsf_free(&b); }
};

struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};

using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatDeleter>;
using OutputFormatPtr = std::unique_ptr<AVFormatContext, OutputFormatDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using CustomIoPtr = std::unique_ptr<AVIOContext, CustomIoDeleter>;
using BsfPtr = std::unique_ptr<AVBSFContext, BsfDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;

}  // namespace mp
