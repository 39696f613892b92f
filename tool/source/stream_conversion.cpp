#include "source/stream_conversion.hpp"

#include "common/av_error.hpp"

namespace mp {
namespace {

const char* filter_for(AVCodecID codec)
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

}  // namespace

bool needs_conversion(AVCodecID codec)
{
    return filter_for(codec) != nullptr;
}

BsfPtr make_conversion(const AVStream* stream, const std::string& name)
{
    const char* filter_name = filter_for(stream->codecpar->codec_id);
    if (!filter_name)
        return nullptr;
    const AVBitStreamFilter* filter = av_bsf_get_by_name(filter_name);
    if (!filter)
        throw Error(std::string("this FFmpeg build lacks the ") + filter_name + " filter");
    AVBSFContext* raw = nullptr;
    av_check(av_bsf_alloc(filter, &raw), "cannot prepare the stream conversion for " + name);
    BsfPtr bsf(raw);
    av_check(avcodec_parameters_copy(bsf->par_in, stream->codecpar), "cannot prepare the stream conversion for " + name);
    bsf->time_base_in = stream->time_base;
    av_check(av_bsf_init(bsf.get()), "the codec set-up data of the video track of " + name + " is damaged");
    return bsf;
}

Converted convert_frame(AVBSFContext* conversion, AVPacket* in, AVPacket* out)
{
    if (av_bsf_send_packet(conversion, in) < 0) {
        av_packet_unref(in);
        return Converted::None;
    }
    if (av_bsf_receive_packet(conversion, out) < 0)
        return Converted::None;
    // `in` is blank again after sending; a second frame would land in it.
    const int more = av_bsf_receive_packet(conversion, in);
    av_packet_unref(in);
    if (more == 0)
        return Converted::Several;
    return more == AVERROR(EAGAIN) ? Converted::One : Converted::OneThenError;
}

}  // namespace mp
