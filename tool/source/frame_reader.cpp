#include "source/frame_reader.hpp"

#include "common/av_error.hpp"
#include "common/interrupt.hpp"
#include "source/ffmpeg_log.hpp"

#include <cstdlib>
#include <limits>
#include <new>

namespace mp {

namespace {

constexpr uint64_t kEnd = std::numeric_limits<uint64_t>::max();

std::string near(int64_t position)
{
    return position >= 0 ? " near byte " + std::to_string(position) : "";
}

}  // namespace

FrameReader::FrameReader(Source& source)
    : source_(source), scan_(source.file.scan()), empty_(av_packet_alloc()),
      have_packet_(source.first_result == 0), result_(source.first_result)
{
    if (!empty_)
        throw std::bad_alloc();
}

void FrameReader::fetch()
{
    while (result_ == 0) {
        result_ = av_read_frame(source_.input.get(), source_.first.get());
        if (result_ == AVERROR_EXIT)
            throw Interrupted();
        if (result_ == 0 && source_.first->stream_index == source_.index) {
            have_packet_ = true;
            return;
        }
        av_packet_unref(source_.first.get());
    }
}

bool FrameReader::next(Frame& frame)
{
    stop_if_interrupted();
    if (stopped_)
        return false;
    if (!have_packet_)
        fetch();
    AVPacket* pkt = source_.first.get();
    const uint64_t before = !have_packet_ ? kEnd : pkt->pos >= 0 ? static_cast<uint64_t>(pkt->pos) : 0;
    if (owed_frame(before, frame))
        return true;
    if (!have_packet_) {
        if (result_ != AVERROR_EOF)
            stopped_ = source_.name + " cannot be read past byte " + std::to_string(avio_tell(source_.input->pb)) +
                       " (" + av_error_text(result_) + ")";
        return false;
    }
    have_packet_ = false;
    const std::optional<FrameTime> time = time_of(pkt);
    if (!time) {
        const bool stamped = pkt->pts != AV_NOPTS_VALUE || pkt->dts != AV_NOPTS_VALUE || matched_;
        stopped_ = source_.name + (stamped ? " has a frame whose timestamp or duration is over 36 years"
                                           : " has a frame without a timestamp") +
                   near(pkt->pos);
        av_packet_unref(pkt);
        return false;
    }
    frame = Frame{pkt, *time, pkt->pos, std::nullopt};
    if (!scan_.matroska() && last_dts_ != AV_NOPTS_VALUE && pkt->dts != AV_NOPTS_VALUE && pkt->dts > last_dts_)
        frame.earlier_lasts_ns =
            ticks_to_ns(pkt->dts - last_dts_, TimeBase{source_.stream->time_base.num, source_.stream->time_base.den});
    last_dts_ = pkt->dts;
    return true;
}

// Blocks of the track before `before` that the demuxer passed over: the
// first empty one becomes `frame`; the others are lost.
bool FrameReader::owed_frame(uint64_t before, Frame& frame)
{
    std::deque<ScannedBlock>& blocks = scan_.blocks();
    const uint64_t present = before == kEnd ? source_.file.bytes_present() : kEnd;
    while (!blocks.empty() && blocks.front().pos < before && blocks.front().end <= present) {
        const ScannedBlock b = blocks.front();
        blocks.pop_front();
        if (!source_.track || b.track != source_.track->number)
            continue;
        if (b.readable && b.frame_bytes == 0 && b.frames == 1 && b.ticks) {
            if (const auto time = block_time(*b.ticks, b.duration_ticks, scan_.head().timestamp_scale_ns,
                                             source_.default_duration_ns())) {
                frame = Frame{empty_.get(), *time, static_cast<int64_t>(b.pos), std::nullopt};
                return true;
            }
        }
        if (lost_++ == 0)
            first_lost_ = b.pos;
    }
    return false;
}

std::optional<FrameTime> FrameReader::time_of(const AVPacket* pkt)
{
    // The packet's block: a laced block gives several packets.
    std::deque<ScannedBlock>& blocks = scan_.blocks();
    const bool same_block = matched_ && pkt->pos >= 0 && matched_->pos == static_cast<uint64_t>(pkt->pos);
    if (same_block) {
        ++lace_;
    } else if (source_.track && pkt->pos >= 0 && !blocks.empty() &&
               blocks.front().pos == static_cast<uint64_t>(pkt->pos)) {
        matched_ = blocks.front();
        blocks.pop_front();
        lace_ = 0;
    } else {
        matched_.reset();
    }
    if (!matched_ || !matched_->ticks)
        return packet_time(pkt);
    const int64_t default_ns = source_.default_duration_ns();
    std::optional<FrameTime> t =
        block_time(*matched_->ticks, matched_->duration_ticks, scan_.head().timestamp_scale_ns, default_ns);
    if (t && lace_ > 0) {
        // Laced frames after the first follow at the default duration.
        if (default_ns <= 0 || default_ns > kMaxTimeNs / (lace_ + 1))
            return packet_time(pkt);
        t->ns += lace_ * default_ns;
        t->duration_ns = default_ns;
    }
    return t;
}

std::optional<FrameTime> FrameReader::packet_time(const AVPacket* pkt) const
{
    // With AVFMT_FLAG_NOFILLIN the demuxer's own values arrive untouched:
    // a native Matroska track carries the block timestamp as PTS, a
    // VfW-mode track as DTS.
    int64_t ts = source_.vfw ? pkt->dts : pkt->pts;
    if (ts == AV_NOPTS_VALUE)
        ts = source_.vfw ? pkt->pts : pkt->dts;
    if (ts == AV_NOPTS_VALUE)
        return std::nullopt;
    const TimeBase base{source_.stream->time_base.num, source_.stream->time_base.den};
    return frame_time(ts, pkt->duration, base, source_.default_duration_ns());
}

std::optional<std::string> FrameReader::damage(int64_t frames) const
{
    const std::string& name = source_.name;
    const std::string lost = std::to_string(lost_) + (lost_ == 1 ? " frame" : " frames") +
                             " of its video track that could not be read (the first near byte " +
                             std::to_string(first_lost_) + ")";
    if (stopped_)
        return *stopped_ + (lost_ ? "; before that, " + lost : "");
    const std::optional<uint64_t> end = scan_.head().segment_end;
    const uint64_t present = source_.file.bytes_present();
    if (scan_.matroska() && end && present < *end)
        return name + " is cut off (" + std::to_string(present) + " of " + std::to_string(*end) + " bytes present)" +
               (lost_ ? "; before that, " + lost : "");
    if (lost_)
        return name + " has " + lost;
    if (LogCapture::errors_of(source_.input.get()) + LogCapture::errors_of(source_.input->pb) > 0)
        return name + " has damaged parts that had to be skipped";
    // Files written by mkvmerge list each track's frame count; fewer frames
    // than that means some were lost without anyone noticing.
    const AVDictionaryEntry* listed = av_dict_get(source_.stream->metadata, "NUMBER_OF_FRAMES", nullptr, 0);
    if (!listed)
        return std::nullopt;
    char* rest = nullptr;
    const long long expected = std::strtoll(listed->value, &rest, 10);
    if (!rest || *rest != '\0' || expected <= frames)
        return std::nullopt;
    return name + " has " + std::to_string(frames) + " readable frames of the " + std::to_string(expected) +
           " its header lists";
}

}  // namespace mp
