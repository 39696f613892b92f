// The AVI output: libavformat's AVI muxer writing through an I/O context of
// ours straight to the output's descriptor, one frame after the other as
// they come. The first failure to write sticks: the muxer does not check
// every write (nor a later seek or flush), so a failure it passed over
// still fails the run when the file is finished.
#pragma once

#include "common/av_ptr.hpp"
#include "output/frame_rate.hpp"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace mp {

// The AVI FourCC for a video stream with `par`: HEVC gets "HEVC"; raw
// video the FourCC AVI knows for its pixel format, or 0 (BI_RGB) for the
// RGB formats AVI stores without one; otherwise `source_tag` when AVI knows
// it for the codec (a track that came with a FourCC of its own), else the
// usual FourCC for the codec. nullopt when AVI has none for the codec.
std::optional<uint32_t> choose_fourcc(const AVCodecParameters* par, uint32_t source_tag);

class AviWriter {
public:
    // Writes the header for one video stream with `par`, `fourcc` and the
    // nominal `rate` into `file`. `shown_name` names the file in errors.
    AviWriter(std::FILE* file, const std::filesystem::path& shown_name, const AVCodecParameters* par, uint32_t fourcc,
              Rational rate);

    // Writes `pkt` as frame number `index` and leaves it blank. An empty
    // packet is an empty chunk: AVI's frame that repeats the one before.
    void write(AVPacket* pkt, int64_t index);

    void finish();

    // The frame rate the muxer actually recorded.
    Rational written_rate() const { return Rational{stream_base_.den, stream_base_.num}; }

private:
    // The muxer's output: positioned writes to the descriptor. The muxer
    // writes a frame as a few small pieces (chunk header, padding) around
    // its data; the small ones wait and go out in one call with the next
    // large one, from where they lie, so no frame data is copied.
    class Sink {
    public:
        explicit Sink(int fd);
        AVIOContext* io() { return io_.get(); }
        // Flushes what the muxer holds; the first error of the file, or 0.
        int flush();

    private:
        static int write(void* opaque, uint8_t* data, int size);
        static int64_t seek(void* opaque, int64_t offset, int whence);
        // Writes what waits, then `size` bytes of `data` after it.
        int write_out(const uint8_t* data, size_t size);

        int fd_;
        int64_t position_ = 0;  // where the next byte goes (after what waits)
        int64_t size_ = 0;
        int error_ = 0;  // the first failure, as an FFmpeg error code
        std::vector<uint8_t> waiting_;
        CustomIoPtr io_;
    };

    std::string name_;
    Sink sink_;  // outlives out_, which points to its I/O context
    OutputFormatPtr out_;
    AVRational frame_base_{1, 25};
    AVRational stream_base_{1, 25};
};

}  // namespace mp
