#include "demux.hpp"

#include "av_error.hpp"
#include "av_ptr.hpp"
#include "frame_copy.hpp"
#include "matroska_header.hpp"
#include "output_files.hpp"
#include "progress.hpp"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
}

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace mp {
namespace fs = std::filesystem;

namespace {

constexpr int64_t kNsPerSecond = 1000000000;

// FFmpeg prints its diagnostics to stderr by default. We report in our own
// words instead, so this replaces the printer for the duration of a run and
// only counts error messages from the source's demuxer and its I/O; those
// mean the demuxer met damaged data even when it recovered and read on.
class LogCapture {
public:
    LogCapture()
    {
        errors_.store(0);
        av_log_set_callback(&LogCapture::callback);
    }
    ~LogCapture()
    {
        watch(nullptr, nullptr);
        av_log_set_callback(av_log_default_callback);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    void watch(const void* format, const void* io)
    {
        watched_format_.store(format);
        watched_io_.store(io);
    }
    int errors() const { return errors_.load(); }

private:
    static void callback(void* avcl, int level, const char*, va_list)
    {
        if (level > AV_LOG_ERROR || avcl == nullptr)
            return;
        if (avcl == watched_format_.load() || avcl == watched_io_.load())
            errors_.fetch_add(1);
    }

    static inline std::atomic<const void*> watched_format_{nullptr};
    static inline std::atomic<const void*> watched_io_{nullptr};
    static inline std::atomic<int> errors_{0};
};

InputFormatPtr open_source(const fs::path& source, LogCapture& log)
{
    std::error_code ec;
    if (fs::is_directory(source, ec))
        throw Error("source " + quote_name(source.string()) + " is a folder, not a file");

    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        throw std::bad_alloc();
    raw->interrupt_callback = AVIOInterruptCB{&interrupt_callback, nullptr};
    // Return the timestamps and durations exactly as stored in the file;
    // without this libavformat guesses missing ones, and the timecodes must
    // be the stored block timestamps.
    raw->flags |= AVFMT_FLAG_NOFILLIN;
    // Nor run a parser over the frames: it would only re-derive details the
    // container already has, reading (and for H.264 unescaping) every byte.
    raw->flags |= AVFMT_FLAG_NOPARSE;
    // Errors the demuxer reports while reading the header but survives
    // (a damaged first cluster it skips) count as damage too.
    log.watch(raw, nullptr);
    const int rc = avformat_open_input(&raw, source.string().c_str(), nullptr, nullptr);  // frees raw on failure
    if (rc == AVERROR_EXIT)
        throw Interrupted();
    // A header that is garbage or cut short shows up as invalid data or as a
    // read past the end of the file.
    if (rc == AVERROR_INVALIDDATA || rc == AVERROR_EOF || rc == AVERROR(EIO))
        throw Error(quote_name(source.string()) + " is not a Matroska or WebM file, or its header is damaged or cut off");
    if (rc < 0)
        throw av_error(rc, "cannot open source " + quote_name(source.string()));
    InputFormatPtr input(raw);

    if (!input->iformat || !std::strstr(input->iformat->name, "matroska")) {
        const char* kind = input->iformat && input->iformat->long_name ? input->iformat->long_name : "different";
        throw Error(quote_name(source.string()) + " is a " + kind + " file, not Matroska or WebM");
    }
    return input;
}

// First video track that is not a cover picture stored as an attachment.
int pick_video_stream(const AVFormatContext* input, const fs::path& source)
{
    bool saw_cover = false;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* st = input->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
            continue;
        if (st->disposition & AV_DISPOSITION_ATTACHED_PIC) {
            saw_cover = true;
            continue;
        }
        return static_cast<int>(i);
    }
    throw Error(quote_name(source.string()) + " has no video track" + (saw_cover ? " (only a cover picture)" : ""));
}

// Header details libavformat does not expose exactly; read separately from
// regular files only (reading a pipe twice would steal the demuxer's data).
std::optional<MatroskaHeader> read_header_of(const fs::path& source)
{
    std::error_code ec;
    if (!fs::is_regular_file(source, ec))
        return std::nullopt;
    std::ifstream in(source, std::ios::binary);
    if (!in)
        return std::nullopt;
    return read_matroska_header(in);
}

// The header entry of the chosen stream. libavformat creates one stream per
// track it supports, in track order, so the n-th video stream is normally
// the n-th video track; a codec check guards against a skipped track.
const MatroskaTrack* match_track(const MatroskaHeader& header, const AVFormatContext* input, int index)
{
    int nth = 0;
    for (int i = 0; i < index; ++i) {
        const AVStream* st = input->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            ++nth;
    }
    const MatroskaTrack* track = nullptr;
    for (const MatroskaTrack& t : header.tracks) {
        if (t.type == 1 && nth-- == 0) {
            track = &t;
            break;
        }
    }
    if (!track)
        return nullptr;
    const AVCodecParameters* par = input->streams[index]->codecpar;
    const bool vfw = track->codec_id == "V_MS/VFW/FOURCC";
    if (vfw && par->codec_tag == 0)
        return nullptr;
    if (track->codec_id.rfind("V_MPEG4/ISO/AVC", 0) == 0 && par->codec_id != AV_CODEC_ID_H264)
        return nullptr;
    if (track->codec_id.rfind("V_MPEGH/ISO/HEVC", 0) == 0 && par->codec_id != AV_CODEC_ID_HEVC)
        return nullptr;
    return track;
}

const char* conversion_filter(AVCodecID codec)
{
    switch (codec) {
    case AV_CODEC_ID_H264:
        return "h264_mp4toannexb";
    case AV_CODEC_ID_HEVC:
        return "hevc_mp4toannexb";
    default:
        return nullptr;
    }
}

std::string codec_name(AVCodecID codec)
{
    const AVCodecDescriptor* d = avcodec_descriptor_get(codec);
    if (!d)
        return "an unknown codec";
    return d->long_name ? d->long_name : d->name;
}

Rational nominal_rate(const AVStream* st, const MatroskaTrack* track)
{
    if (st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0)
        if (auto r = reduce_rate({st->avg_frame_rate.num, st->avg_frame_rate.den}))
            return *r;
    if (track && track->default_duration_ns && *track->default_duration_ns <= static_cast<uint64_t>(INT64_MAX))
        if (auto r = reduce_rate({kNsPerSecond, static_cast<int64_t>(*track->default_duration_ns)}))
            return *r;
    return Rational{25, 1};
}

// The frame's block timestamp and duration in nanoseconds. With
// AVFMT_FLAG_NOFILLIN the demuxer's own values arrive untouched: a native
// track carries the block timestamp as PTS, a VfW-mode track as DTS.
std::optional<FrameTime> frame_time(const AVPacket* pkt, AVRational time_base, const MatroskaTrack* track,
                                    bool vfw)
{
    int64_t ts = vfw ? pkt->dts : pkt->pts;
    if (ts == AV_NOPTS_VALUE)
        ts = vfw ? pkt->pts : pkt->dts;
    if (ts == AV_NOPTS_VALUE)
        return std::nullopt;
    const AVRational ns_base{1, static_cast<int>(kNsPerSecond)};
    FrameTime t;
    t.ns = av_rescale_q(ts, time_base, ns_base);

    // Default duration in ns, or -1 when the track has none.
    int64_t def = -1;
    if (track && track->default_duration_ns && *track->default_duration_ns <= static_cast<uint64_t>(INT64_MAX))
        def = static_cast<int64_t>(*track->default_duration_ns);
    if (pkt->duration > 0) {
        const int64_t ns = av_rescale_q(pkt->duration, time_base, ns_base);
        // The demuxer hands out the default duration cut to whole ticks of
        // the file's timestamp scale; use the exact value it came from.
        const int64_t tick = std::max<int64_t>(av_rescale_q(1, time_base, ns_base), 1);
        t.duration_ns = (def >= 0 && ns <= def && def - ns < tick) ? def : ns;
    } else if (def >= 0) {
        t.duration_ns = def;
    }
    return t;
}

// The AVI muxer's output: an AVIO context over a RangeWriter on the
// temporary file we created (never reopened by name). In AVIO's direct mode
// each frame's data arrives here as one block, which is then written as the
// frame's pieces: literal bytes from memory, the rest copied by the kernel
// from the source file.
class MuxerOutput {
public:
    MuxerOutput(std::FILE* file, int source_fd) : writer_(file, source_fd)
    {
        constexpr int kBufferSize = 1 << 16;
        auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
        if (!buffer)
            throw std::bad_alloc();
        AVIOContext* io = avio_alloc_context(buffer, kBufferSize, 1, this, nullptr, &MuxerOutput::write,
                                             &MuxerOutput::seek);
        if (!io) {
            av_free(buffer);
            throw std::bad_alloc();
        }
        io_.reset(io);
        io_->direct = 1;
        io_->seekable = AVIO_SEEKABLE_NORMAL;
    }

    AVIOContext* io() { return io_.get(); }
    RangeWriter& writer() { return writer_; }

    // The next write of exactly these bytes is a frame laid out by `pieces`.
    void expect(const uint8_t* data, int size, const std::vector<Piece>* pieces)
    {
        expected_data_ = data;
        expected_size_ = size;
        pieces_ = pieces;
    }

    // Flushes AVIO and the writer; returns an FFmpeg error code or 0.
    int flush()
    {
        avio_flush(io_.get());
        if (io_->error < 0)
            return io_->error;
        return AVERROR(-writer_.flush());
    }

private:
    static int write(void* opaque, uint8_t* data, int size)
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

    static int64_t seek(void* opaque, int64_t offset, int whence)
    {
        auto* self = static_cast<MuxerOutput*>(opaque);
        if (whence & AVSEEK_SIZE)
            return self->writer_.size();
        const int64_t rc = self->writer_.seek(offset, whence & ~AVSEEK_FORCE);
        return rc < 0 ? AVERROR(static_cast<int>(-rc)) : rc;
    }

    RangeWriter writer_;
    CustomIoPtr io_;
    const uint8_t* expected_data_ = nullptr;
    int expected_size_ = -1;
    const std::vector<Piece>* pieces_ = nullptr;
};

// The source opened a second time, for kernel copies of frame data; only
// for regular files.
class SourceFile {
public:
    explicit SourceFile(const fs::path& path)
    {
#if !defined(_WIN32)
        std::error_code ec;
        if (fs::is_regular_file(path, ec))
            fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
#else
        (void)path;
#endif
    }
    ~SourceFile()
    {
#if !defined(_WIN32)
        if (fd_ >= 0)
            ::close(fd_);
#endif
    }
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

// The source file offset of a frame's data as the demuxer read it: the
// packet shares the buffer the block was read into, which started at
// pkt->pos. Checked against the file byte for byte, since a track with compressed
// or stripped headers hands out rebuilt data instead.
std::optional<int64_t> locate_in_source(const AVPacket* pkt, const RangeWriter& writer)
{
    if (!writer.copies_enabled() || !pkt->buf || pkt->pos < 0 || pkt->size < static_cast<int>(kMinCopyLength))
        return std::nullopt;
    const uint8_t* base = pkt->buf->data;
    if (pkt->data < base || pkt->data + pkt->size > base + pkt->buf->size)
        return std::nullopt;
    const int64_t at = pkt->pos + (pkt->data - base);
    if (!writer.source_matches(pkt->data, static_cast<size_t>(pkt->size), at))
        return std::nullopt;
    return at;
}

class AviWriter {
public:
    AviWriter(std::FILE* file, int source_fd, const fs::path& shown_name, const AVCodecParameters* par, uint32_t fourcc,
              Rational rate)
        : name_(quote_name(shown_name.string())), output_(file, source_fd)
    {
        AVFormatContext* raw = nullptr;
        av_check(avformat_alloc_output_context2(&raw, nullptr, "avi", nullptr),
                 "cannot set up the AVI writer for " + name_);
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

    RangeWriter& writer() { return output_.writer(); }

    // Writes `pkt` as frame number `index` and leaves it blank. `pieces`,
    // when given, lays out its data for copying from the source.
    void write(AVPacket* pkt, int64_t index, const std::vector<Piece>* pieces)
    {
        output_.expect(pkt->data, pkt->size, pieces);
        pkt->stream_index = 0;
        pkt->pts = pkt->dts = av_rescale_q(index, frame_base_, stream_base_);
        pkt->duration = av_rescale_q(index + 1, frame_base_, stream_base_) - pkt->dts;
        pkt->pos = -1;
        const int rc = av_write_frame(out_.get(), pkt);
        output_.expect(nullptr, -1, nullptr);
        av_packet_unref(pkt);
        av_check(rc, "cannot write to " + name_);
    }

    void finish()
    {
        av_check(av_write_trailer(out_.get()), "cannot finish " + name_);
        av_check(output_.flush(), "cannot finish writing " + name_);
    }

    Rational written_rate() const
    {
        return Rational{stream_base_.den, stream_base_.num};
    }

private:
    std::string name_;
    MuxerOutput output_;  // outlives out_, which points to its I/O context
    OutputFormatPtr out_;
    AVRational frame_base_{1, 25};
    AVRational stream_base_{1, 25};
};

}  // namespace

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

DemuxResult run_demux(const DemuxJob& job, Progress& progress)
{
    check_output_paths(job.source, job.avi, job.timecodes);
    const std::string src = quote_name(job.source.string());

    LogCapture log;
    InputFormatPtr input = open_source(job.source, log);
    log.watch(input.get(), input->pb);

    const int index = pick_video_stream(input.get(), job.source);
    for (unsigned i = 0; i < input->nb_streams; ++i)
        if (static_cast<int>(i) != index)
            input->streams[i]->discard = AVDISCARD_ALL;
    AVStream* st = input->streams[index];
    // The Matroska header already gives everything the AVI needs, and the
    // demuxer sets the average rate from the track's default duration.
    // Only without one does libavformat have to estimate it from the first
    // frames; that also decodes a frame, which for large pictures costs tens
    // of MB, so it is skipped when not needed.
    if (st->avg_frame_rate.num <= 0 || st->avg_frame_rate.den <= 0)
        av_check(avformat_find_stream_info(input.get(), nullptr), "cannot read the tracks of " + src);

    const std::optional<MatroskaHeader> header = read_header_of(job.source);
    const MatroskaTrack* track = header ? match_track(*header, input.get(), index) : nullptr;
    const bool vfw = track ? track->codec_id == "V_MS/VFW/FOURCC" : false;

    const AVCodecID codec = st->codecpar->codec_id;
    const uint32_t fourcc = choose_fourcc(codec, vfw || !track ? st->codecpar->codec_tag : 0);
    if (fourcc == 0)
        throw Error("the video track of " + src + " is " + codec_name(codec) +
                    ", which an AVI file cannot identify (no FourCC); nothing was written");

    // Matroska stores H.264/HEVC with length-prefixed NAL units; AVI needs
    // start codes, so those tracks go through the matching filter.
    BsfPtr bsf;
    const AVCodecParameters* out_par = st->codecpar;
    if (const char* filter_name = conversion_filter(codec)) {
        const AVBitStreamFilter* filter = av_bsf_get_by_name(filter_name);
        if (!filter)
            throw Error(std::string("this FFmpeg build lacks the ") + filter_name + " filter");
        AVBSFContext* raw = nullptr;
        av_check(av_bsf_alloc(filter, &raw), "cannot prepare the stream conversion for " + src);
        bsf.reset(raw);
        av_check(avcodec_parameters_copy(bsf->par_in, st->codecpar), "cannot prepare the stream conversion for " + src);
        bsf->time_base_in = st->time_base;
        av_check(av_bsf_init(bsf.get()), "the codec set-up data of the video track of " + src + " is damaged");
        out_par = bsf->par_out;
    }

    const Rational rate = nominal_rate(st, track);

    TempOutput avi_temp(job.avi);
    TempOutput timecodes_temp(job.timecodes);
    SourceFile source_file(job.source);
    AviWriter avi(avi_temp.file(), source_file.fd(), job.avi, out_par, fourcc, rate);
    int nal_length_size = 0;
    if (codec == AV_CODEC_ID_H264)
        nal_length_size = nal_length_size_h264(st->codecpar->extradata, static_cast<size_t>(st->codecpar->extradata_size));
    else if (codec == AV_CODEC_ID_HEVC)
        nal_length_size = nal_length_size_hevc(st->codecpar->extradata, static_cast<size_t>(st->codecpar->extradata_size));

    PacketPtr pkt(av_packet_alloc());
    PacketPtr converted(av_packet_alloc());
    PacketPtr held(av_packet_alloc());  // the frame before conversion
    if (!pkt || !converted || !held)
        throw std::bad_alloc();
    std::vector<Piece> whole_frame(1);

    TimecodeList times;
    int64_t frames = 0;
    std::optional<std::string> damage;
    const int64_t source_size = avio_size(input->pb);

    while (true) {
        if (interrupted())
            throw Interrupted();
        const int64_t position = avio_tell(input->pb);
        const int rc = av_read_frame(input.get(), pkt.get());
        if (rc == AVERROR_EOF)
            break;
        if (rc == AVERROR_EXIT)
            throw Interrupted();
        if (rc < 0) {
            damage = src + " cannot be read past byte " + std::to_string(position) + " (" + av_error_text(rc) + ")";
            break;
        }
        if (pkt->stream_index != index) {
            av_packet_unref(pkt.get());
            continue;
        }
        const std::optional<FrameTime> time = frame_time(pkt.get(), st->time_base, track, vfw);
        if (!time) {
            av_packet_unref(pkt.get());
            damage = src + " has a frame without a timestamp near byte " + std::to_string(position);
            break;
        }
        // Where this frame's bytes lie in the source file, if provably there.
        const std::optional<int64_t> at = locate_in_source(pkt.get(), avi.writer());
        if (bsf) {
            std::optional<std::vector<NalBody>> bodies;
            av_packet_unref(held.get());
            if (at && nal_length_size > 0) {
                bodies = split_length_prefixed(pkt->data, static_cast<size_t>(pkt->size), nal_length_size);
                // Keep the frame's data alive past the filter (a reference,
                // not a copy) to match its NAL bodies in the output.
                if (bodies && av_packet_ref(held.get(), pkt.get()) < 0)
                    bodies.reset();
            }
            // send_packet takes the packet's data and leaves it blank.
            int sent = av_bsf_send_packet(bsf.get(), pkt.get());
            if (sent < 0) {
                av_packet_unref(pkt.get());
                damage = src + " has a damaged frame near byte " + std::to_string(position);
                break;
            }
            int produced = 0;
            int received = 0;
            while ((received = av_bsf_receive_packet(bsf.get(), converted.get())) == 0) {
                if (produced++ > 0)
                    throw Error("the stream conversion split a frame of " + src);
                std::optional<std::vector<Piece>> pieces;
                if (bodies)
                    pieces = plan_converted(converted->data, static_cast<size_t>(converted->size), held->data,
                                            *bodies, *at);
                avi.write(converted.get(), frames, pieces ? &*pieces : nullptr);
            }
            av_packet_unref(held.get());
            if (received != AVERROR(EAGAIN) || produced != 1) {
                if (produced == 1) {
                    // Written already; count it so both outputs agree.
                    times.add(*time);
                    ++frames;
                }
                damage = src + " has a damaged frame near byte " + std::to_string(position);
                break;
            }
        } else {
            whole_frame[0] = Piece{0, static_cast<size_t>(pkt->size), at.value_or(-1)};
            avi.write(pkt.get(), frames, at ? &whole_frame : nullptr);
        }
        times.add(*time);
        ++frames;
        progress.update(avio_tell(input->pb), source_size, frames);
    }

    if (!damage && header && header->segment_end && source_size > 0 &&
        static_cast<uint64_t>(source_size) < *header->segment_end)
        damage = src + " is cut off (" + std::to_string(source_size) + " of " +
                 std::to_string(*header->segment_end) + " bytes present)";
    if (!damage && log.errors() > 0)
        damage = src + " has damaged parts that had to be skipped";
    // Files written by mkvmerge list each track's frame count; fewer frames
    // than that means some were lost without the demuxer noticing.
    if (!damage) {
        if (const AVDictionaryEntry* listed = av_dict_get(st->metadata, "NUMBER_OF_FRAMES", nullptr, 0)) {
            char* end = nullptr;
            const long long expected = std::strtoll(listed->value, &end, 10);
            if (end && *end == '\0' && expected > frames)
                damage = src + " has " + std::to_string(frames) + " readable frames of the " +
                         std::to_string(expected) + " its header lists";
        }
    }
    if (frames == 0)
        throw Error("no video frames could be read from " + src + (damage ? " (" + *damage + ")" : ""));

    avi.finish();
    if (!avi_temp.close())
        throw Error("cannot write " + quote_name(job.avi.string()) + ": " + std::strerror(errno));
    times.finish();
    if (!times.write(timecodes_temp.file()) || !timecodes_temp.close())
        throw Error("cannot write " + quote_name(job.timecodes.string()) + ": " + std::strerror(errno));
    progress.clear();
    commit_outputs(avi_temp, timecodes_temp);

    DemuxResult result;
    result.frames = frames;
    result.nominal_rate = avi.written_rate();
    const int64_t span = times.end_ns() - times.sorted().front();
    result.average_rate = span > 0 ? static_cast<double>(frames) * 1e9 / static_cast<double>(span) : 0.0;
    result.damage = damage;
    return result;
}

std::string summary_line(const DemuxJob& job, const DemuxResult& r)
{
    const double nominal = static_cast<double>(r.nominal_rate.num) / static_cast<double>(r.nominal_rate.den);
    char text[256];
    std::snprintf(text, sizeof text, "%lld frames, nominal %lld/%lld fps (%.3f), average %.3f fps",
                  static_cast<long long>(r.frames), static_cast<long long>(r.nominal_rate.num),
                  static_cast<long long>(r.nominal_rate.den), nominal, r.average_rate);
    return std::string("mp.exe: ") + text + ": " + job.avi.string() + ", " + job.timecodes.string();
}

}  // namespace mp
