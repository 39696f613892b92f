// The AVI output: libavformat's AVI muxer writing through our own I/O, so
// that frame data can be copied from the source by the kernel instead of
// passing through memory.
#pragma once

#include "av_ptr.hpp"
#include "range_writer.hpp"
#include "frame_rate.hpp"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace mp {

// The muxer's output: an AVIO context over a RangeWriter on the temporary
// file we created (never reopened by name). Unbuffered, the AVIO context
// passes each frame's data on as one block, which is then written as the
// frame's pieces: literal bytes from memory, the rest copied from the source.
class MuxerOutput {
public:
    MuxerOutput(std::FILE* file, int source_fd);

    AVIOContext* io() { return io_.get(); }
    RangeWriter& writer() { return writer_; }

    // The next write of exactly these bytes is a frame laid out by `pieces`.
    void expect(const uint8_t* data, int size, const std::vector<Piece>* pieces);
    // True while an expected frame has not been written.
    bool pending() const { return pieces_ != nullptr; }

    // Flushes AVIO and the writer; returns an FFmpeg error code or 0.
    int flush();

private:
    static int write(void* opaque, uint8_t* data, int size);
    static int64_t seek(void* opaque, int64_t offset, int whence);

    RangeWriter writer_;
    CustomIoPtr io_;
    const uint8_t* expected_data_ = nullptr;
    int expected_size_ = -1;
    const std::vector<Piece>* pieces_ = nullptr;
};

// The AVI FourCC for a track: HEVC gets "HEVC"; a track stored in VfW mode
// keeps its own FourCC when AVI knows it for that codec; otherwise the usual
// FourCC for the codec. 0 when AVI has no FourCC for the codec.
uint32_t choose_fourcc(AVCodecID codec, uint32_t source_tag);

class AviWriter {
public:
    // Writes the header for one video stream with `par`, `fourcc` and the
    // nominal `rate`. `shown_name` is the name used in error messages.
    AviWriter(std::FILE* file, int source_fd, const std::filesystem::path& shown_name, const AVCodecParameters* par,
              uint32_t fourcc, Rational rate);

    // What the packet's memory holds when it comes with pieces.
    enum class Memory { Complete, LiteralPiecesOnly };

    // Writes `pkt` as frame number `index` and leaves it blank. `pieces`,
    // when given, lays out its data for copying from the source.
    void write(AVPacket* pkt, int64_t index, const std::vector<Piece>* pieces = nullptr,
               Memory memory = Memory::Complete);

    void finish();

    // The frame rate the muxer actually recorded.
    Rational written_rate() const { return Rational{stream_base_.den, stream_base_.num}; }

private:
    std::string name_;
    MuxerOutput output_;  // outlives out_, which points to its I/O context
    OutputFormatPtr out_;
    AVRational frame_base_{1, 25};
    AVRational stream_base_{1, 25};
};

}  // namespace mp
