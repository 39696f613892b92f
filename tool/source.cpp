#include "source.hpp"

#include "av_error.hpp"
#include "avi_writer.hpp"
#include "ebml.hpp"
#include "ffmpeg_log.hpp"
#include "interrupt.hpp"
#include "matroska.hpp"
#include "nal_units.hpp"
#include "timecodes.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace mp {
namespace fs = std::filesystem;

namespace {

// libavformat's demuxer reading through `file`.
InputFormatPtr open_input(const fs::path& path, const std::string& name, SourceFile& file, LogCapture& log)
{
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        throw std::bad_alloc();
    // Our own I/O context, which libavformat must not free.
    raw->pb = file.io();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
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
    // The name still helps the format probe; frees raw on failure.
    const int rc = avformat_open_input(&raw, path.string().c_str(), nullptr, nullptr);
    if (rc == AVERROR_EXIT)
        throw Interrupted();
    // A header that is garbage or cut short shows up as invalid data or as a
    // read past the end of the file.
    if (rc == AVERROR_INVALIDDATA || rc == AVERROR_EOF || rc == AVERROR(EIO))
        throw Error(name + " is not a Matroska or WebM file, or its header is damaged or cut off");
    if (rc < 0)
        throw av_error(rc, "cannot open source " + name);
    InputFormatPtr input(raw);
    if (!input->iformat || !std::strstr(input->iformat->name, "matroska")) {
        const char* kind = input->iformat && input->iformat->long_name ? input->iformat->long_name : "different";
        throw Error(name + " is a " + kind + " file, not Matroska or WebM");
    }
    return input;
}

bool is_cover_picture(const AVStream* st)
{
    return (st->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
}

// First video track that is not a cover picture stored as an attachment.
int pick_video_stream(const AVFormatContext* input, const std::string& name)
{
    bool saw_cover = false;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* st = input->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
            continue;
        if (is_cover_picture(st)) {
            saw_cover = true;
            continue;
        }
        return static_cast<int>(i);
    }
    throw Error(name + " has no video track" + (saw_cover ? " (only a cover picture)" : ""));
}

// The header entry of the track whose block the stream's first packet came
// from: libavformat gives a packet the position of its block's data, which
// starts with the track number. nullptr when that cannot be read or the
// entry is not a video track.
const MatroskaTrack* track_of_first_packet(const MatroskaHeader& header, SourceFile& file, const AVPacket* first)
{
    if (!first || first->pos < 0)
        return nullptr;
    SourceReader reader(file.fd(), file.size());
    const auto pos = static_cast<uint64_t>(first->pos);
    const uint64_t left = pos < reader.file_size() ? reader.file_size() - pos : 0;
    const auto avail = static_cast<size_t>(std::min<uint64_t>(8, left));
    const uint8_t* p = reader.at(pos, avail);
    if (!p)
        return nullptr;
    ebml::Span s{p, p + avail};
    uint64_t number = 0;
    if (!ebml::read_size(s, number))
        return nullptr;
    const MatroskaTrack* track = header.find_track(number);
    return track && track->type == mkv::kVideoTrack ? track : nullptr;
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
// naming it, the same whichever way would read the frames.
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

}  // namespace

Source::Source(const fs::path& path, LogCapture& log)
    : name(quote_name(path.string())), file(path), input(open_input(path, name, file, log)), packets(input.get())
{
    AVFormatContext* in = input.get();
    log.watch(in, in->pb);
    index = pick_video_stream(in, name);
    for (unsigned i = 0; i < in->nb_streams; ++i)
        if (static_cast<int>(i) != index)
            in->streams[i]->discard = AVDISCARD_ALL;
    stream = in->streams[index];
    // The Matroska header already gives everything the AVI needs, and the
    // demuxer sets the average rate from the track's default duration.
    // Only without one does libavformat have to estimate it from the first
    // frames; that also decodes a frame, which for large pictures costs tens
    // of MB, so it is skipped when not needed.
    if (stream->avg_frame_rate.num <= 0 || stream->avg_frame_rate.den <= 0)
        av_check(avformat_find_stream_info(in, nullptr), "cannot read the tracks of " + name);

    // Header details libavformat does not expose exactly; read separately
    // from regular files only (reading a pipe twice would steal the
    // demuxer's data).
    if (file.regular()) {
        SourceReader reader(file.fd(), file.size());
        header = read_matroska_header(reader);
    }
    const std::vector<const AVPacket*> first = packets.first_of(index, 1);
    track = header ? track_of_first_packet(*header, file, first.empty() ? nullptr : first.front()) : nullptr;
    check_default_duration(track, name);
    vfw = track && mkv::stored_in_vfw_mode(track->codec_id);

    const AVCodecParameters* par = stream->codecpar;
    fourcc = choose_fourcc(par->codec_id, vfw || !track ? par->codec_tag : 0);
    if (fourcc == 0)
        throw Error("the video track of " + name + " is " + codec_name(par->codec_id) +
                    ", which an AVI file cannot identify (no FourCC); nothing was written");
    rate = nominal_rate(stream->avg_frame_rate, default_duration_or_none(track));
    if (rate.num > kMaxAviFramesPerSecond * rate.den)
        throw Error("the video track of " + name + " runs at " +
                    rate_text(static_cast<double>(rate.num) / static_cast<double>(rate.den)) +
                    " frames per second; an AVI file holds at most " + std::to_string(kMaxAviFramesPerSecond) +
                    ", so nothing was written");
    nal_length_size = nal_length_size_of(par->codec_id, par->extradata, static_cast<size_t>(par->extradata_size));
}

}  // namespace mp
