#include "demux.hpp"

#include "common/av_error.hpp"
#include "common/interrupt.hpp"
#include "output/output_target.hpp"
#include "output/pending_outputs.hpp"
#include "output/run_journal.hpp"
#include "report/progress.hpp"
#include "source/ffmpeg_log.hpp"
#include "source/frame_reader.hpp"
#include "source/source.hpp"
#include "source/stream_conversion.hpp"

#include <cstdio>
#include <new>

namespace mp {
namespace {

// Every frame of the track into both outputs. Returns what damage stopped
// it, if any; throws Error/Interrupted like the rest of the job.
std::optional<std::string> copy_frames(FrameReader& reader, Source& source, AVBSFContext* conversion,
                                       PendingOutputs& out, Progress& progress)
{
    PacketPtr converted(av_packet_alloc());
    if (!converted)
        throw std::bad_alloc();
    const int64_t size = source.file.regular() ? static_cast<int64_t>(source.file.bytes_present()) : -1;
    Frame frame;
    while (reader.next(frame)) {
        const auto index = static_cast<int64_t>(out.times().size());
        AVPacket* data = frame.packet;
        Converted result = Converted::One;
        // An empty frame has nothing to convert.
        if (conversion && data->size > 0) {
            result = convert_frame(conversion, data, converted.get());
            if (result == Converted::Several)
                throw Error("the stream conversion split a frame of " + source.name);
            data = converted.get();
        }
        if (frame.earlier_lasts_ns)
            out.times().last_added_lasts(*frame.earlier_lasts_ns);
        if (result != Converted::None) {
            out.avi().write(data, index);
            out.times().add(frame.time);
        }
        if (result == Converted::None || result == Converted::OneThenError)
            return source.name + " has a damaged frame" +
                   (frame.position >= 0 ? " near byte " + std::to_string(frame.position) : "");
        progress.update(avio_tell(source.input->pb), size, index + 1);
    }
    return std::nullopt;
}

}  // namespace

DemuxResult run_demux(const DemuxJob& job, Progress& progress)
{
    const LogCapture log;
    SourceFile file(job.source);
    const OutputTargets targets = check_output_paths(job.source, file.id(), job.avi, job.timecodes);
    // What killed runs left in these folders is set right first, so no
    // earlier run's half commit outlives this one.
    for (const std::filesystem::path& target : replaced_files(targets))
        recover_killed_runs(target.parent_path(), stderr);
    Source source(file, job.source);
    const BsfPtr conversion = make_conversion(source.stream, source.name);
    const AVCodecParameters* par = conversion ? conversion->par_out : source.stream->codecpar;
    PendingOutputs out(targets, par, source.fourcc, source.rate);

    FrameReader reader(source);
    std::optional<std::string> damage = copy_frames(reader, source, conversion.get(), out, progress);
    const auto frames = static_cast<int64_t>(out.times().size());
    if (!damage)
        damage = reader.damage(frames);
    if (frames == 0)
        throw Error("no video frames could be read from " + source.name + (damage ? " (" + *damage + ")" : ""));
    progress.clear();
    out.commit(source.timeline);

    DemuxResult result;
    result.frames = frames;
    result.nominal_rate = out.avi().written_rate();
    const int64_t span = out.times().end_ns() - out.times().sorted().front();
    result.average_rate = span > 0 ? static_cast<double>(frames) * 1e9 / static_cast<double>(span) : 0.0;
    result.damage = damage;
    result.replaced_avi = out.replaced_avi();
    result.replaced_timecodes = out.replaced_timecodes();
    result.notes = source.notes;
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
