#include "demux.hpp"

#include "av_error.hpp"
#include "damage.hpp"
#include "demuxer_way.hpp"
#include "direct_check.hpp"
#include "direct_way.hpp"
#include "ffmpeg_log.hpp"
#include "output_target.hpp"
#include "run_journal.hpp"
#include "pending_outputs.hpp"
#include "progress.hpp"
#include "source.hpp"
#include "stream_conversion.hpp"

#include <cstdio>
#include <memory>

namespace mp {
namespace {

// The outputs for one pass over the frames, for frames as the conversion
// (if any) gives them.
std::unique_ptr<PendingOutputs> outputs_for(const OutputTargets& targets, const Source& source,
                                            const AVBSFContext* conversion, int copies_from)
{
    const AVCodecParameters* par = conversion ? conversion->par_out : source.stream->codecpar;
    return std::make_unique<PendingOutputs>(targets, copies_from, par, source.fourcc, source.rate);
}

}  // namespace

DemuxResult run_demux(const DemuxJob& job, Progress& progress)
{
    const OutputTargets targets = check_output_paths(job.source, job.avi, job.timecodes);
    // What killed runs left in these folders is set right first, so no
    // earlier run's half commit outlives this one.
    for (const std::filesystem::path& file : replaced_files(targets))
        recover_killed_runs(file.parent_path(), stderr);
    LogCapture log;
    Source source(job.source, log);

    std::unique_ptr<PendingOutputs> out;
    std::optional<std::string> damage;
    bool direct = false;
    if (job.way != Way::Demuxer) {
        std::optional<std::string> why_not = direct_way_refusal(source);
        if (!why_not)
            why_not = direct_way_disagreement(source, log);
        if (!why_not) {
            const BsfPtr conversion = make_conversion(source.stream, source.name);
            out = outputs_for(targets, source, conversion.get(), source.file.fd());
            std::string why_stopped;
            direct = copy_direct(source, conversion.get(), job.copy_threshold, out->avi(), out->times(), progress,
                                 why_stopped);
            if (!direct) {
                out.reset();  // removes what it wrote; the demuxer way starts afresh
                why_not = why_stopped;
            }
        }
        if (!direct && job.way == Way::Direct)
            throw Error(source.name + " cannot take the direct way: " + *why_not + "; nothing was written");
    }
    if (!direct) {
        const BsfPtr conversion = make_conversion(source.stream, source.name);
        out = outputs_for(targets, source, conversion.get(), -1);  // written from memory alone
        damage = copy_through_demuxer(source, conversion.get(), out->avi(), out->times(), progress);
    }

    const auto frames = static_cast<int64_t>(out->times().size());
    if (!damage)
        damage = unreported_damage(source, log.errors(), frames);
    if (frames == 0)
        throw Error("no video frames could be read from " + source.name + (damage ? " (" + *damage + ")" : ""));
    progress.clear();
    out->commit();

    DemuxResult result;
    result.frames = frames;
    result.nominal_rate = out->avi().written_rate();
    const int64_t span = out->times().end_ns() - out->times().sorted().front();
    result.average_rate = span > 0 ? static_cast<double>(frames) * 1e9 / static_cast<double>(span) : 0.0;
    result.damage = damage;
    result.copied_directly = direct;
    result.replaced_avi = out->replaced_avi();
    result.replaced_timecodes = out->replaced_timecodes();
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
