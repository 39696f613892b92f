#include "demux.hpp"

#include "av_error.hpp"
#include "av_ptr.hpp"
#include "avi_writer.hpp"
#include "demuxer_way.hpp"
#include "direct_way.hpp"
#include "ffmpeg_log.hpp"
#include "interrupt.hpp"
#include "output_files.hpp"
#include "progress.hpp"
#include "source.hpp"
#include "stream_conversion.hpp"

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

}  // namespace

DemuxResult run_demux(const DemuxJob& job, Progress& progress)
{
    check_output_paths(job.source, job.avi, job.timecodes);

    LogCapture log;
    Source s(job.source, log);

    std::unique_ptr<Outputs> out;
    std::optional<std::string> damage;
    bool direct = false;
    if (job.allow_direct && direct_way_fits(s)) {
        BsfPtr bsf = make_conversion(s.stream, s.name);
        out = std::make_unique<Outputs>(job, s.file.fd(), bsf ? bsf->par_out : s.stream->codecpar, s.fourcc, s.rate);
        direct = copy_direct(s, bsf.get(), job.copy_threshold, out->avi, out->times, progress);
        if (!direct)
            out.reset();  // removes what it wrote; the demuxer starts afresh
    }
    if (!direct) {
        BsfPtr bsf = make_conversion(s.stream, s.name);
        // Written from memory alone: no copies from the source.
        out = std::make_unique<Outputs>(job, -1, bsf ? bsf->par_out : s.stream->codecpar, s.fourcc, s.rate);
        damage = copy_through_demuxer(s, bsf.get(), out->avi, out->times, progress);
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
