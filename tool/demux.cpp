#include "demux.hpp"

#include "av_error.hpp"
#include "av_ptr.hpp"
#include "avi_writer.hpp"
#include "direct_copy.hpp"
#include "ffmpeg_log.hpp"
#include "frame_copy.hpp"
#include "interrupt.hpp"
#include "output_files.hpp"
#include "progress.hpp"
#include "source.hpp"

extern "C" {
#include <libavutil/mathematics.h>
}

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <new>

namespace mp {
namespace fs = std::filesystem;

namespace {

constexpr int64_t kNsPerSecond = 1000000000;

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

// Matroska stores H.264/HEVC with length-prefixed NAL units; AVI needs
// start codes, so those tracks go through the matching filter. A fresh one
// for each pass over the frames, since it keeps state from frame to frame.
BsfPtr make_conversion(const Source& s)
{
    const char* filter_name = conversion_filter(s.stream->codecpar->codec_id);
    if (!filter_name)
        return nullptr;
    const AVBitStreamFilter* filter = av_bsf_get_by_name(filter_name);
    if (!filter)
        throw Error(std::string("this FFmpeg build lacks the ") + filter_name + " filter");
    AVBSFContext* raw = nullptr;
    av_check(av_bsf_alloc(filter, &raw), "cannot prepare the stream conversion for " + s.name);
    BsfPtr bsf(raw);
    av_check(avcodec_parameters_copy(bsf->par_in, s.stream->codecpar), "cannot prepare the stream conversion for " + s.name);
    bsf->time_base_in = s.stream->time_base;
    av_check(av_bsf_init(bsf.get()), "the codec set-up data of the video track of " + s.name + " is damaged");
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
std::optional<std::string> copy_through_demuxer(const Source& s, AVBSFContext* bsf, Outputs& out,
                                                Progress& progress)
{
    AVFormatContext* input = s.input.get();
    const AVStream* st = s.stream;
    const std::string& src = s.name;
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

DemuxResult run_demux(const DemuxJob& job, Progress& progress)
{
    check_output_paths(job.source, job.avi, job.timecodes);

    LogCapture log;
    Source s(job.source, log);
    const int source_fd = s.file.regular() ? s.file.fd() : -1;
    const AVCodecID codec = s.stream->codecpar->codec_id;

    std::unique_ptr<Outputs> out;
    std::optional<std::string> damage;
    bool direct = false;
    const bool direct_possible = job.allow_direct && source_fd >= 0 && s.header && s.track &&
                                 stored_as_written(codec) && (!conversion_filter(codec) || s.nal_length_size > 0);
    if (direct_possible) {
        BsfPtr bsf = make_conversion(s);
        out = std::make_unique<Outputs>(job, source_fd, bsf ? bsf->par_out : s.stream->codecpar, s.fourcc, s.rate);
        DirectSource d;
        d.fd = source_fd;
        d.file_size = s.file.size();
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
        out = std::make_unique<Outputs>(job, source_fd, bsf ? bsf->par_out : s.stream->codecpar, s.fourcc, s.rate);
        damage = copy_through_demuxer(s, bsf.get(), *out, progress);
    }
    const auto frames = static_cast<int64_t>(out->times.size());
    const std::string& src = s.name;

    if (!damage && log.errors() > 0)
        damage = src + " has damaged parts that had to be skipped";
    // Files written by mkvmerge list each track's frame count; fewer frames
    // than that means some were lost without the demuxer noticing.
    if (!damage) {
        if (const AVDictionaryEntry* listed = av_dict_get(s.stream->metadata, "NUMBER_OF_FRAMES", nullptr, 0)) {
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
