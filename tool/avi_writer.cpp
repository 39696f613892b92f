#include "avi_writer.hpp"

#include "av_error.hpp"

#include <new>

namespace mp {

uint32_t choose_fourcc(AVCodecID codec, uint32_t source_tag)
{
    if (codec == AV_CODEC_ID_NONE)
        return 0;
    // The AVI muxer knows no FourCC for HEVC and would write 0.
    if (codec == AV_CODEC_ID_HEVC)
        return MKTAG('H', 'E', 'V', 'C');
    const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
    if (source_tag != 0 && av_codec_get_id(tables, source_tag) == codec)
        return source_tag;
    return av_codec_get_tag(tables, codec);
}

MuxerOutput::MuxerOutput(std::FILE* file, int source_fd) : writer_(file, source_fd)
{
    constexpr int kBufferSize = 1 << 16;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (!buffer)
        throw std::bad_alloc();
    AVIOContext* io =
        avio_alloc_context(buffer, kBufferSize, 1, this, nullptr, &MuxerOutput::write, &MuxerOutput::seek);
    if (!io) {
        av_free(buffer);
        throw std::bad_alloc();
    }
    io_.reset(io);
    // Unbuffered (AVIO calls this "direct"): every write reaches us as the
    // muxer made it, so a frame's data arrives as one block.
    io_->direct = 1;
    io_->seekable = AVIO_SEEKABLE_NORMAL;
}

void MuxerOutput::expect(const uint8_t* data, int size, const std::vector<Piece>* pieces)
{
    expected_data_ = data;
    expected_size_ = size;
    pieces_ = pieces;
}

int MuxerOutput::flush()
{
    avio_flush(io_.get());
    if (io_->error < 0)
        return io_->error;
    return AVERROR(-writer_.flush());
}

int MuxerOutput::write(void* opaque, uint8_t* data, int size)
{
    auto* self = static_cast<MuxerOutput*>(opaque);
    int rc = 0;
    if (self->pieces_ && data == self->expected_data_ && size == self->expected_size_) {
        rc = self->writer_.write_pieces(data, *self->pieces_);
        self->pieces_ = nullptr;
    } else if (size > 0) {
        rc = self->writer_.write(data, static_cast<size_t>(size));
    }
    return rc < 0 ? AVERROR(-rc) : size;
}

int64_t MuxerOutput::seek(void* opaque, int64_t offset, int whence)
{
    auto* self = static_cast<MuxerOutput*>(opaque);
    if (whence & AVSEEK_SIZE)
        return self->writer_.size();
    const int64_t rc = self->writer_.seek(offset, whence & ~AVSEEK_FORCE);
    return rc < 0 ? AVERROR(static_cast<int>(-rc)) : rc;
}

AviWriter::AviWriter(std::FILE* file, int source_fd, const std::filesystem::path& shown_name,
                     const AVCodecParameters* par, uint32_t fourcc, Rational rate)
    : name_(quote_name(shown_name.string())), output_(file, source_fd)
{
    AVFormatContext* raw = nullptr;
    av_check(avformat_alloc_output_context2(&raw, nullptr, "avi", nullptr), "cannot set up the AVI writer for " + name_);
    out_.reset(raw);
    out_->pb = output_.io();
    out_->flags |= AVFMT_FLAG_CUSTOM_IO;
    AVStream* st = avformat_new_stream(out_.get(), nullptr);
    if (!st)
        throw std::bad_alloc();
    av_check(avcodec_parameters_copy(st->codecpar, par), "cannot set up the AVI writer for " + name_);
    st->codecpar->codec_tag = fourcc;
    frame_base_ = AVRational{static_cast<int>(rate.den), static_cast<int>(rate.num)};
    st->time_base = frame_base_;
    st->avg_frame_rate = AVRational{static_cast<int>(rate.num), static_cast<int>(rate.den)};
    st->r_frame_rate = st->avg_frame_rate;
    av_check(avformat_write_header(out_.get(), nullptr), "cannot write the AVI header of " + name_);
    // The muxer may have replaced the time base; frames are numbered in
    // whatever it chose.
    stream_base_ = st->time_base;
}

void AviWriter::write(AVPacket* pkt, int64_t index, const std::vector<Piece>* pieces, Memory memory)
{
    output_.expect(pkt->data, pkt->size, pieces);
    pkt->stream_index = 0;
    pkt->pts = pkt->dts = av_rescale_q(index, frame_base_, stream_base_);
    pkt->duration = av_rescale_q(index + 1, frame_base_, stream_base_) - pkt->dts;
    pkt->pos = -1;
    const int rc = av_write_frame(out_.get(), pkt);
    // The muxer hands over a frame's data in one piece. Were it ever to
    // split it, the data would go out from memory: right when the memory is
    // complete, but not when it holds only the literal pieces.
    const bool missed = rc >= 0 && memory == Memory::LiteralPiecesOnly && output_.pending();
    output_.expect(nullptr, -1, nullptr);
    av_packet_unref(pkt);
    av_check(rc, "cannot write to " + name_);
    if (missed)
        throw Error("the AVI writer did not take frame " + std::to_string(index) + " of " + name_ + " whole");
}

void AviWriter::finish()
{
    av_check(av_write_trailer(out_.get()), "cannot finish " + name_);
    av_check(output_.flush(), "cannot finish writing " + name_);
}

}  // namespace mp
