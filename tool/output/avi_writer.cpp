#include "output/avi_writer.hpp"

#include "common/av_error.hpp"
#include "common/file_io.hpp"
#include "source/ffmpeg_log.hpp"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <new>

namespace mp {

std::optional<uint32_t> choose_fourcc(const AVCodecParameters* par, uint32_t source_tag)
{
    const AVCodecID codec = par->codec_id;
    if (codec == AV_CODEC_ID_NONE)
        return std::nullopt;
    // The AVI muxer knows no FourCC for HEVC and would write 0.
    if (codec == AV_CODEC_ID_HEVC)
        return MKTAG('H', 'E', 'V', 'C');
    const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
    const auto known = [&](uint32_t tag) { return tag != 0 && av_codec_get_id(tables, tag) == codec; };
    if (known(source_tag))
        return source_tag;
    if (codec == AV_CODEC_ID_RAWVIDEO) {
        const auto format = static_cast<AVPixelFormat>(par->format);
        const uint32_t tag = avcodec_pix_fmt_to_codec_tag(format);
        // Without a FourCC of its own, raw video is RGB in BI_RGB form
        // (0); the muxer refuses a pixel format that is not.
        return known(tag) ? tag : 0;
    }
    const uint32_t tag = av_codec_get_tag(tables, codec);
    if (tag == 0)
        return std::nullopt;
    return tag;
}

AviWriter::Sink::Sink(int fd) : fd_(fd)
{
    constexpr int kBufferSize = 1 << 16;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (!buffer)
        throw std::bad_alloc();
    AVIOContext* io = avio_alloc_context(buffer, kBufferSize, 1, this, nullptr, &Sink::write, &Sink::seek);
    if (!io) {
        av_free(buffer);
        throw std::bad_alloc();
    }
    io_.reset(io);
    // Unbuffered (AVIO calls this "direct"): a frame's data goes out from
    // the packet itself, never copied into the buffer first.
    io_->direct = 1;
    io_->seekable = AVIO_SEEKABLE_NORMAL;
}

namespace {

// Pieces smaller than this wait for the next large one.
constexpr size_t kSmallPiece = 4096;

}  // namespace

int AviWriter::Sink::flush()
{
    avio_flush(io_.get());
    if (!error_ && !waiting_.empty())
        write_out(nullptr, 0);
    return error_ ? error_ : io_->error;
}

int AviWriter::Sink::write_out(const uint8_t* data, size_t size)
{
    const auto waiting = static_cast<int64_t>(waiting_.size());
    const int rc = write_two_at(fd_, waiting_.data(), waiting_.size(), data, size, position_ - waiting);
    waiting_.clear();
    if (rc < 0)
        return error_ = av_code_of_errno(-rc);
    return 0;
}

int AviWriter::Sink::write(void* opaque, uint8_t* data, int size)
{
    auto* self = static_cast<Sink*>(opaque);
    if (self->error_)
        return self->error_;
    const auto n = static_cast<size_t>(size);
    if (n < kSmallPiece && self->waiting_.size() < kSmallPiece) {
        self->waiting_.insert(self->waiting_.end(), data, data + n);
    } else if (self->write_out(data, n) < 0) {
        return self->error_;
    }
    self->position_ += size;
    self->size_ = std::max(self->size_, self->position_);
    return size;
}

int64_t AviWriter::Sink::seek(void* opaque, int64_t offset, int whence)
{
    auto* self = static_cast<Sink*>(opaque);
    if (self->error_)
        return self->error_;
    // What waits belongs where it was written.
    if (!self->waiting_.empty() && self->write_out(nullptr, 0) < 0)
        return self->error_;
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return self->size_;
    case SEEK_SET:
        break;
    case SEEK_CUR:
        offset += self->position_;
        break;
    case SEEK_END:
        offset += self->size_;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (offset < 0)
        return AVERROR(EINVAL);
    return self->position_ = offset;
}

AviWriter::AviWriter(std::FILE* file, const std::filesystem::path& shown_name, const AVCodecParameters* par,
                     uint32_t fourcc, Rational rate)
    : name_(quote_name(shown_name.string())), sink_(descriptor_of(file))
{
    AVFormatContext* raw = nullptr;
    av_check(avformat_alloc_output_context2(&raw, nullptr, "avi", nullptr), "cannot set up the AVI writer for " + name_);
    out_.reset(raw);
    out_->pb = sink_.io();
    out_->flags |= AVFMT_FLAG_CUSTOM_IO;
    AVStream* st = avformat_new_stream(out_.get(), nullptr);
    if (!st)
        throw std::bad_alloc();
    av_check(avcodec_parameters_copy(st->codecpar, par), "cannot set up the AVI writer for " + name_);
    st->codecpar->codec_tag = fourcc;
    // BI_RGB raw video is told apart by its bits per pixel.
    if (par->codec_id == AV_CODEC_ID_RAWVIDEO && fourcc == 0 && st->codecpar->bits_per_coded_sample == 0)
        if (const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(par->format)))
            st->codecpar->bits_per_coded_sample = av_get_bits_per_pixel(d);
    frame_base_ = AVRational{static_cast<int>(rate.den), static_cast<int>(rate.num)};
    st->time_base = frame_base_;
    st->avg_frame_rate = AVRational{static_cast<int>(rate.num), static_cast<int>(rate.den)};
    st->r_frame_rate = st->avg_frame_rate;
    LogCapture::watch(out_.get());
    av_check(avformat_write_header(out_.get(), nullptr), "cannot write the AVI header of " + name_);
    // The muxer says only in its log that it wrote a header no reader can
    // use (raw video in a pixel format AVI has no form for).
    if (LogCapture::errors_of(out_.get()) > 0)
    {
        const char* format = av_get_pix_fmt_name(static_cast<AVPixelFormat>(par->format));
        throw Error(std::string("the video is raw ") + (format ? format : "?") +
                    " pictures, which an AVI file has no form for; nothing was written");
    }
    // The muxer may have replaced the time base; frames are numbered in
    // whatever it chose.
    stream_base_ = st->time_base;
}

void AviWriter::write(AVPacket* pkt, int64_t index)
{
    pkt->stream_index = 0;
    pkt->pts = pkt->dts = av_rescale_q(index, frame_base_, stream_base_);
    pkt->duration = av_rescale_q(index + 1, frame_base_, stream_base_) - pkt->dts;
    pkt->pos = -1;
    const int rc = av_write_frame(out_.get(), pkt);
    av_packet_unref(pkt);
    av_check(rc, "cannot write to " + name_);
}

void AviWriter::finish()
{
    av_check(av_write_trailer(out_.get()), "cannot finish " + name_);
    av_check(sink_.flush(), "cannot finish writing " + name_);
}

}  // namespace mp
