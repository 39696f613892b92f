#include "demux.hpp"

#include "av_error.hpp"
#include "av_ptr.hpp"
#include "avi_writer.hpp"
#include "direct_copy.hpp"
#include "frame_copy.hpp"
#include "matroska.hpp"
#include "matroska_header.hpp"
#include "interrupt.hpp"
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
#include <memory>
#include <new>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
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

// The source opened a second time, for the direct way's scan and for kernel
// copies of frame data; only for regular files.
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
    uint64_t size() const
    {
#if !defined(_WIN32)
        struct stat st {};
        if (fd_ >= 0 && fstat(fd_, &st) == 0 && st.st_size > 0)
            return static_cast<uint64_t>(st.st_size);
#endif
        return 0;
    }

private:
    int fd_ = -1;
};

// Header details libavformat does not expose exactly; read separately from
// regular files only (reading a pipe twice would steal the demuxer's data).
std::optional<MatroskaHeader> read_header_of(const fs::path& source)
{
    std::error_code ec;
    if (!fs::is_regular_file(source, ec))
        return std::nullopt;
    SourceFile file(source);
    if (file.fd() < 0)
        return std::nullopt;
    SourceReader reader(file.fd(), file.size());
    return read_matroska_header(reader);
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
        if (t.type == mkv::kVideoTrack && nth-- == 0) {
            track = &t;
            break;
        }
    }
    if (!track)
        return nullptr;
    const AVCodecParameters* par = input->streams[index]->codecpar;
    const bool vfw = mkv::stored_in_vfw_mode(track->codec_id);
    if (vfw && par->codec_tag == 0)
        return nullptr;
    if (track->codec_id.starts_with(mkv::kAvcCodecId) && par->codec_id != AV_CODEC_ID_H264)
        return nullptr;
    if (track->codec_id.starts_with(mkv::kHevcCodecId) && par->codec_id != AV_CODEC_ID_HEVC)
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
    const int64_t duration = pkt->duration > 0 ? av_rescale_q(pkt->duration, time_base, ns_base) : 0;
    return block_frame_time(av_rescale_q(ts, time_base, ns_base), duration, av_rescale_q(1, time_base, ns_base),
                            default_duration_or_none(track));
}

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

// The source once open and checked: what both ways of copying need.
struct OpenSource {
    std::string src;  // the source's name as shown in messages
    InputFormatPtr input;
    AVStream* st = nullptr;
    int index = -1;
    std::optional<MatroskaHeader> header;
    const MatroskaTrack* track = nullptr;  // in *header, when found
    bool vfw = false;
    uint32_t fourcc = 0;
    Rational rate;
    int nal_length_size = 0;  // H.264/HEVC in length-prefixed form
};

OpenSource open_and_check(const fs::path& source, LogCapture& log)
{
    OpenSource s;
    s.src = quote_name(source.string());
    s.input = open_source(source, log);
    log.watch(s.input.get(), s.input->pb);
    AVFormatContext* input = s.input.get();

    s.index = pick_video_stream(input, source);
    for (unsigned i = 0; i < input->nb_streams; ++i)
        if (static_cast<int>(i) != s.index)
            input->streams[i]->discard = AVDISCARD_ALL;
    s.st = input->streams[s.index];
    // The Matroska header already gives everything the AVI needs, and the
    // demuxer sets the average rate from the track's default duration.
    // Only without one does libavformat have to estimate it from the first
    // frames; that also decodes a frame, which for large pictures costs tens
    // of MB, so it is skipped when not needed.
    if (s.st->avg_frame_rate.num <= 0 || s.st->avg_frame_rate.den <= 0)
        av_check(avformat_find_stream_info(input, nullptr), "cannot read the tracks of " + s.src);

    s.header = read_header_of(source);
    s.track = s.header ? match_track(*s.header, input, s.index) : nullptr;
    s.vfw = s.track && mkv::stored_in_vfw_mode(s.track->codec_id);

    const AVCodecParameters* par = s.st->codecpar;
    const AVCodecID codec = par->codec_id;
    s.fourcc = choose_fourcc(codec, s.vfw || !s.track ? par->codec_tag : 0);
    if (s.fourcc == 0)
        throw Error("the video track of " + s.src + " is " + codec_name(codec) +
                    ", which an AVI file cannot identify (no FourCC); nothing was written");
    s.rate = nominal_rate(s.st->avg_frame_rate, default_duration_or_none(s.track));
    if (codec == AV_CODEC_ID_H264)
        s.nal_length_size = nal_length_size_h264(par->extradata, static_cast<size_t>(par->extradata_size));
    else if (codec == AV_CODEC_ID_HEVC)
        s.nal_length_size = nal_length_size_hevc(par->extradata, static_cast<size_t>(par->extradata_size));
    return s;
}

// Matroska stores H.264/HEVC with length-prefixed NAL units; AVI needs
// start codes, so those tracks go through the matching filter. A fresh one
// for each pass over the frames, since it keeps state from frame to frame.
BsfPtr make_conversion(const OpenSource& s)
{
    const char* filter_name = conversion_filter(s.st->codecpar->codec_id);
    if (!filter_name)
        return nullptr;
    const AVBitStreamFilter* filter = av_bsf_get_by_name(filter_name);
    if (!filter)
        throw Error(std::string("this FFmpeg build lacks the ") + filter_name + " filter");
    AVBSFContext* raw = nullptr;
    av_check(av_bsf_alloc(filter, &raw), "cannot prepare the stream conversion for " + s.src);
    BsfPtr bsf(raw);
    av_check(avcodec_parameters_copy(bsf->par_in, s.st->codecpar), "cannot prepare the stream conversion for " + s.src);
    bsf->time_base_in = s.st->time_base;
    av_check(av_bsf_init(bsf.get()), "the codec set-up data of the video track of " + s.src + " is damaged");
    return bsf;
}

// Both outputs while they are written, as temporaries beside their targets;
// destroying this before commit removes them.
struct Outputs {
    Outputs(const DemuxJob& job, int source_fd, const AVCodecParameters* par, uint32_t fourcc, Rational rate)
        : avi_temp(job.avi), timecodes_temp(job.timecodes),
          avi(avi_temp.file(), source_fd, job.avi, par, fourcc, rate)
    {
    }
    TempOutput avi_temp;
    TempOutput timecodes_temp;
    AviWriter avi;
    TimecodeList times;
};

// The way through any source: libavformat's Matroska demuxer reads every
// frame, which also finds its way through damage. Frames that provably lie
// unchanged in the source are still copied from there. Returns what damage
// stopped it, if any.
std::optional<std::string> copy_through_demuxer(const OpenSource& s, AVBSFContext* bsf, Outputs& out,
                                                Progress& progress)
{
    AVFormatContext* input = s.input.get();
    const AVStream* st = s.st;
    const std::string& src = s.src;
    PacketPtr pkt(av_packet_alloc());
    PacketPtr converted(av_packet_alloc());
    PacketPtr held(av_packet_alloc());  // the frame before conversion
    if (!pkt || !converted || !held)
        throw std::bad_alloc();
    std::vector<Piece> whole_frame(1);
    const int nal_length_size = s.nal_length_size;

    std::optional<std::string> damage;
    const int64_t source_size = avio_size(input->pb);

    while (true) {
        stop_if_interrupted();
        const int64_t position = avio_tell(input->pb);
        const int rc = av_read_frame(input, pkt.get());
        if (rc == AVERROR_EOF)
            break;
        if (rc == AVERROR_EXIT)
            throw Interrupted();
        if (rc < 0) {
            damage = src + " cannot be read past byte " + std::to_string(position) + " (" + av_error_text(rc) + ")";
            break;
        }
        if (pkt->stream_index != s.index) {
            av_packet_unref(pkt.get());
            continue;
        }
        const std::optional<FrameTime> time = frame_time(pkt.get(), st->time_base, s.track, s.vfw);
        if (!time) {
            av_packet_unref(pkt.get());
            damage = src + " has a frame without a timestamp near byte " + std::to_string(position);
            break;
        }
        // Where this frame's bytes lie in the source file, if provably there.
        const std::optional<int64_t> at = locate_in_source(pkt.get(), out.avi.writer());
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
            int sent = av_bsf_send_packet(bsf, pkt.get());
            if (sent < 0) {
                av_packet_unref(pkt.get());
                damage = src + " has a damaged frame near byte " + std::to_string(position);
                break;
            }
            int produced = 0;
            int received = 0;
            while ((received = av_bsf_receive_packet(bsf, converted.get())) == 0) {
                if (produced++ > 0)
                    throw Error("the stream conversion split a frame of " + src);
                std::optional<std::vector<Piece>> pieces;
                if (bodies)
                    pieces = plan_converted(converted->data, static_cast<size_t>(converted->size), held->data,
                                            *bodies, *at);
                out.avi.write(converted.get(), static_cast<int64_t>(out.times.size()), pieces ? &*pieces : nullptr);
            }
            av_packet_unref(held.get());
            if (received != AVERROR(EAGAIN) || produced != 1) {
                if (produced == 1) {
                    // Written already; count it so both outputs agree.
                    out.times.add(*time);
                }
                damage = src + " has a damaged frame near byte " + std::to_string(position);
                break;
            }
        } else {
            whole_frame[0] = Piece{0, static_cast<size_t>(pkt->size), at.value_or(-1)};
            out.avi.write(pkt.get(), static_cast<int64_t>(out.times.size()), at ? &whole_frame : nullptr);
        }
        out.times.add(*time);
        progress.update(avio_tell(input->pb), source_size, static_cast<int64_t>(out.times.size()));
    }

    if (!damage && s.header && s.header->segment_end && source_size > 0 &&
        static_cast<uint64_t>(source_size) < *s.header->segment_end)
        damage = src + " is cut off (" + std::to_string(source_size) + " of " +
                 std::to_string(*s.header->segment_end) + " bytes present)";
    return damage;
}

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

    LogCapture log;
    OpenSource s = open_and_check(job.source, log);
    SourceFile source_file(job.source);
    const AVCodecID codec = s.st->codecpar->codec_id;

    std::unique_ptr<Outputs> out;
    std::optional<std::string> damage;
    bool direct = false;
    const bool direct_possible = job.allow_direct && source_file.fd() >= 0 && s.header && s.track &&
                                 stored_as_written(codec) && (!conversion_filter(codec) || s.nal_length_size > 0);
    if (direct_possible) {
        BsfPtr bsf = make_conversion(s);
        out = std::make_unique<Outputs>(job, source_file.fd(), bsf ? bsf->par_out : s.st->codecpar, s.fourcc, s.rate);
        DirectSource d;
        d.fd = source_file.fd();
        d.file_size = source_file.size();
        d.header = &*s.header;
        d.track = s.track;
        d.conversion = bsf.get();
        d.nal_length_size = s.nal_length_size;
        d.copy_threshold = job.copy_threshold;
        direct = copy_direct(d, out->avi, out->times, progress);
        if (!direct)
            out.reset();  // removes what it wrote; the demuxer starts afresh
    }
    if (!direct) {
        BsfPtr bsf = make_conversion(s);
        out = std::make_unique<Outputs>(job, source_file.fd(), bsf ? bsf->par_out : s.st->codecpar, s.fourcc, s.rate);
        damage = copy_through_demuxer(s, bsf.get(), *out, progress);
    }
    const auto frames = static_cast<int64_t>(out->times.size());
    const std::string& src = s.src;

    if (!damage && log.errors() > 0)
        damage = src + " has damaged parts that had to be skipped";
    // Files written by mkvmerge list each track's frame count; fewer frames
    // than that means some were lost without the demuxer noticing.
    if (!damage) {
        if (const AVDictionaryEntry* listed = av_dict_get(s.st->metadata, "NUMBER_OF_FRAMES", nullptr, 0)) {
            char* end = nullptr;
            const long long expected = std::strtoll(listed->value, &end, 10);
            if (end && *end == '\0' && expected > frames)
                damage = src + " has " + std::to_string(frames) + " readable frames of the " +
                         std::to_string(expected) + " its header lists";
        }
    }
    if (frames == 0)
        throw Error("no video frames could be read from " + src + (damage ? " (" + *damage + ")" : ""));

    out->avi.finish();
    if (!out->avi_temp.close())
        throw av_error(av_code_of_errno(errno), "cannot write " + quote_name(job.avi.string()));
    out->times.finish();
    if (!out->times.write(out->timecodes_temp.file()) || !out->timecodes_temp.close())
        throw av_error(av_code_of_errno(errno), "cannot write " + quote_name(job.timecodes.string()));
    progress.clear();
    commit_outputs(out->avi_temp, out->timecodes_temp);

    DemuxResult result;
    result.frames = frames;
    result.nominal_rate = out->avi.written_rate();
    const int64_t span = out->times.end_ns() - out->times.sorted().front();
    result.average_rate = span > 0 ? static_cast<double>(frames) * 1e9 / static_cast<double>(span) : 0.0;
    result.damage = damage;
    result.copied_directly = direct;
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
