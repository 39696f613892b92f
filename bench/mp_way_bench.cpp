// Runs one demux job the way the benchmark asks for, so that the two ways
// can be timed apart (mp.exe itself always prefers the direct way):
//
//   mp_way_bench SOURCE.mkv OUTPUT.avi OUTPUT_TIMECODES.txt [--demuxer]
//
// Without --demuxer it runs the job as mp.exe does. It prints which way was
// taken and the summary line; exit status 0 on success, 2 on an error.
#include "demux.hpp"
#include "progress.hpp"

#include <cstdio>
#include <exception>
#include <string_view>

int main(int argc, char** argv)
{
    const bool force_demuxer = argc == 5 && std::string_view(argv[4]) == "--demuxer";
    if (argc != 4 && !force_demuxer) {
        std::fputs("usage: mp_way_bench SOURCE.mkv OUTPUT.avi OUTPUT_TIMECODES.txt [--demuxer]\n", stderr);
        return 2;
    }
    mp::DemuxJob job;
    job.source = argv[1];
    job.avi = argv[2];
    job.timecodes = argv[3];
    job.way = force_demuxer ? mp::Way::Demuxer : mp::Way::Auto;
    mp::Progress quiet(stderr, false);
    try {
        const mp::DemuxResult result = mp::run_demux(job, quiet);
        std::printf("%s way: %s\n", result.copied_directly ? "direct" : "demuxer",
                    mp::summary_line(job, result).c_str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mp_way_bench: error: %s\n", e.what());
        return 2;
    }
}
