#include "source/source.hpp"

#include "common/av_error.hpp"
#include "common/interrupt.hpp"
#include "output/avi_writer.hpp"
#include "output/timecodes.hpp"
#include "source/ffmpeg_log.hpp"
#include "source/matroska.hpp"

extern "C" {
#include <libavutil/display.h>
}

#include <cmath>
#include <cstdio>
#include <new>
#include <string_view>

namespace mp {
namespace fs = std::filesystem;

namespace {

// Why libavformat cannot read a Matroska header, where the header says.
std::optional<std::string> unreadable_header(const MatroskaHead& head, const std::string& name)
{
    if (head.max_size_length > 8)
        return name + " uses element sizes of up to " + std::to_string(head.max_size_length) +
               " bytes (EBMLMaxSizeLength); Matroska readers take at most 8, so it cannot be read";
    if (head.max_id_length > 4)
        return name + " uses element IDs of up to " + std::to_string(head.max_id_length) +
               " bytes (EBMLMaxIDLength); Matroska readers take at most 4, so it cannot be read";
    if (head.doc_type_read_version > 3)
        return name + " needs a reader of Matroska version " + std::to_string(head.doc_type_read_version) +
               " (DocTypeReadVersion); libavformat reads versions up to 3, so it cannot be read";
    return std::nullopt;
}

// libavformat's demuxer reading through `file`.
InputFormatPtr open_input(const fs::path& path, const std::string& name, SourceFile& file)
{
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        throw std::bad_alloc();
    // Our own I/O context, which libavformat must not free.
    raw->pb = file.io();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    raw->interrupt_callback = AVIOInterruptCB{&interrupt_callback, nullptr};
    // Return the timestamps and durations exactly as stored in the file;
    // without this libavformat guesses missing ones.
    raw->flags |= AVFMT_FLAG_NOFILLIN;
    // Errors the demuxer reports while reading the header but survives
    // (a damaged first cluster it skips) count as damage too.
    LogCapture::watch(raw);
    LogCapture::watch(file.io());
    // The name still helps the format probe; frees raw on failure.
    const int rc = avformat_open_input(&raw, path.string().c_str(), nullptr, nullptr);
    if (rc == AVERROR_EXIT)
        throw Interrupted();
    if (rc < 0 && file.scan().matroska())
        if (const auto why = unreadable_header(file.scan().head(), name))
            throw Error(*why);
    // A header that is garbage or cut short shows up as invalid data or as a
    // read past the end of the file.
    if (rc == AVERROR_INVALIDDATA || rc == AVERROR_EOF || rc == AVERROR(EIO) || rc == AVERROR_PATCHWELCOME)
        throw Error(name + " is not a video file that can be read, or its header is damaged or cut off" +
                    (file.regular() ? ""
                                    : " (read from a pipe, a file whose index lies at its end, as in many MP4 "
                                      "files, cannot be read: give the file itself)"));
    if (rc < 0)
        throw av_error(rc, "cannot open source " + name);
    InputFormatPtr input(raw);
    // Matroska stores whole frames with their times: a parser would only
    // re-derive details the container already has, reading (and for H.264
    // unescaping) every byte. Elsewhere the demuxer may need one (MPEG-TS
    // and elementary streams are split into frames by it).
    if (file.scan().matroska())
        input->flags |= AVFMT_FLAG_NOPARSE;
    return input;
}

// How a source's frame times are written. A Matroska file's exactly as
// stored, as mkvextract reads them. Any other container's as mkvmerge
// stores them when it takes the file into Matroska, so the numbers are
// those the user's own remux would give: in whole milliseconds (mkvmerge's
// default timestamp scale) and, for containers whose clock does not start
// with the video (an MPEG transport or program stream starts anywhere; an
// MP4/MOV/3GP movie starts with its first shown frame, also where B-frames
// without an edit list shift all times by their delay), counted from the
// first frame. FLV, AVI and the others count from the file's own start.
Timeline timeline_of(const AVInputFormat* format, bool matroska)
{
    if (matroska)
        return {};
    const std::string_view name = format->name;
    const bool from_first = name == "mpegts" || name == "mpeg" || name.starts_with("mov,");
    return Timeline{from_first, 1000000};
}

// What the video track asks that an AVI file cannot carry.
std::vector<std::string> notes_on(const AVFormatContext* input, const AVStream* stream, const std::string& name)
{
    std::vector<std::string> notes;
    size_t size = 0;
    const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (matrix && size >= 9 * sizeof(int32_t)) {
        // As players read it: the matrix's angle is counterclockwise.
        const long clockwise = ((std::lround(-av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix))) % 360) + 360) % 360;
        const std::string turn = clockwise == 90    ? "a quarter turn clockwise"
                                 : clockwise == 180 ? "half a turn"
                                 : clockwise == 270 ? "a quarter turn counterclockwise"
                                                    : std::to_string(clockwise) + " degrees clockwise";
        if (clockwise != 0)
            notes.push_back(name + " asks for its pictures to be shown turned by " + turn +
                            "; an AVI file cannot say so, so the AVI shows them as stored");
    }
    int videos = 0;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* st = input->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            ++videos;
    }
    if (videos > 1)
        notes.push_back(name + " has " + std::to_string(videos) +
                        " video tracks; the AVI file holds the first one only");
    return notes;
}

// First video track that is not a cover picture stored as an attachment.
int pick_video_stream(const AVFormatContext* input, const std::string& name, const MatroskaScan& scan)
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
    if (scan.matroska() && scan.in_clusters() && scan.head().tracks.empty())
        throw Error(name + " has no list of its tracks before its first frames, where readers look for it; it "
                           "cannot be read");
    throw Error(name + " has no video track" + (saw_cover ? " (only a cover picture)" : ""));
}

// Formats frames per second for messages: "1000000000", "1000.001".
std::string rate_text(double fps)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", fps);
    std::string s(text);
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s;
}

// A default duration is used for the AVI's rate and for frames without a
// duration of their own. One the AVI cannot hold, or longer than any frame
// can last, is damage in the header: the job is refused with a message
// naming it.
void check_default_duration(const MatroskaTrack* track, const std::string& name)
{
    if (!track || !track->default_duration_ns)
        return;
    const uint64_t ns = *track->default_duration_ns;
    const std::string stated = name + " gives its video track a default frame duration of " + std::to_string(ns) + " ns";
    if (ns < static_cast<uint64_t>(1000000000 / kMaxAviFramesPerSecond))
        throw Error(stated + " (" + rate_text(1e9 / static_cast<double>(ns)) +
                    " frames per second); an AVI file holds at most " + std::to_string(kMaxAviFramesPerSecond) +
                    " frames per second, so nothing was written");
    if (ns > static_cast<uint64_t>(kMaxTimeNs))
        throw Error(stated + ", over 36 years; no frame lasts that long, so nothing was written");
}

std::string codec_name(AVCodecID codec)
{
    const AVCodecDescriptor* d = avcodec_descriptor_get(codec);
    if (!d)
        return "an unknown codec";
    return d->long_name ? d->long_name : d->name;
}

// The stream's first packet; the other streams are discarded, so the
// first packet the demuxer gives is the stream's.
int read_first(AVFormatContext* input, int index, AVPacket* pkt)
{
    while (true) {
        const int rc = av_read_frame(input, pkt);
        if (rc == AVERROR_EXIT)
            throw Interrupted();
        if (rc < 0 || pkt->stream_index == index)
            return rc;
        av_packet_unref(pkt);
    }
}

}  // namespace

Source::Source(SourceFile& source_file, const fs::path& path)
    : name(quote_name(path.string())), file(source_file), input(open_input(path, name, file)),
      first(av_packet_alloc())
{
    if (!first)
        throw std::bad_alloc();
    AVFormatContext* in = input.get();
    const MatroskaHead& head = file.scan().head();
    // Some containers (FLV, MPEG-TS) make or complete their streams only as
    // their packets come: they are read ahead until the streams are known
    // (once: libavformat takes no second look).
    const auto find_streams = [&] {
        av_check(avformat_find_stream_info(in, nullptr), "cannot read the tracks of " + name);
    };
    const bool streams_found = (in->ctx_flags & AVFMTCTX_NOHEADER) != 0;
    if (streams_found)
        find_streams();
    index = pick_video_stream(in, name, file.scan());
    for (unsigned i = 0; i < in->nb_streams; ++i)
        if (static_cast<int>(i) != index)
            in->streams[i]->discard = AVDISCARD_ALL;
    stream = in->streams[index];
    // The average rate and the picture size usually come with the header
    // (for Matroska the rate from the track's default duration). Only
    // without them does libavformat have to work them out from the first
    // frames; that also decodes a frame, which for large pictures costs
    // tens of MB, so it is skipped when not needed.
    const AVCodecParameters* known = stream->codecpar;
    if (!streams_found && (stream->avg_frame_rate.num <= 0 || stream->avg_frame_rate.den <= 0 || known->width <= 0 ||
                           known->height <= 0))
        find_streams();

    first_result = read_first(in, index, first.get());
    if (first_result == 0 && first->pos >= 0)
        for (const ScannedBlock& b : file.scan().blocks())
            if (b.pos == static_cast<uint64_t>(first->pos)) {
                track = head.find_track(b.track);
                break;
            }
    if (track && track->type != mkv::kVideoTrack)
        track = nullptr;
    check_default_duration(track, name);
    vfw = track && mkv::stored_in_vfw_mode(track->codec_id);

    const AVCodecParameters* par = stream->codecpar;
    // A FourCC the source itself holds for AVI (an AVI file, a Matroska
    // track in VfW mode, raw video's pixel layout) is kept; MP4's and the
    // like name the codec in forms AVI does not use ("avc1" stands for
    // length-prefixed H.264, which the AVI no longer holds).
    const bool own_tag = vfw || std::string_view(in->iformat->name) == "avi" || par->codec_id == AV_CODEC_ID_RAWVIDEO;
    const std::optional<uint32_t> tag = choose_fourcc(par, own_tag ? par->codec_tag : 0);
    if (!tag)
        throw Error("the video track of " + name + " is " + codec_name(par->codec_id) +
                    ", which an AVI file cannot identify (no FourCC); nothing was written");
    fourcc = *tag;
    rate = nominal_rate(stream->avg_frame_rate, default_duration_ns());
    timeline = timeline_of(in->iformat, file.scan().matroska());
    notes = notes_on(in, stream, name);
    if (rate.num > kMaxAviFramesPerSecond * rate.den)
        throw Error("the video track of " + name + " runs at " +
                    rate_text(static_cast<double>(rate.num) / static_cast<double>(rate.den)) +
                    " frames per second; an AVI file holds at most " + std::to_string(kMaxAviFramesPerSecond) +
                    ", so nothing was written");
}

int64_t Source::default_duration_ns() const
{
    if (track && track->default_duration_ns && *track->default_duration_ns <= static_cast<uint64_t>(kMaxTimeNs))
        return static_cast<int64_t>(*track->default_duration_ns);
    return -1;
}

}  // namespace mp
