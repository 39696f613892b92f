// Fuzz target: the two ways through a source never disagree. Every input
// the direct way takes all through is run the demuxer way too; both must
// write the same AVI and timecodes bytes and end with the same exit status
// and message. The files live in a private folder, in memory (/dev/shm)
// where there is one.
#include "av_error.hpp"
#include "demux.hpp"
#include "progress.hpp"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <optional>
#include <string>

namespace fs = std::filesystem;

namespace {

// A folder of this process's own, removed at exit.
class PrivateFolder {
public:
    PrivateFolder()
    {
        for (const fs::path& base : {fs::path("/dev/shm"), fs::temp_directory_path()}) {
            std::string pattern = (base / "mp-fuzz-ways-XXXXXX").string();
            if (mkdtemp(pattern.data())) {
                path = pattern;
                return;
            }
        }
        std::abort();
    }
    ~PrivateFolder()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};

struct Outcome {
    int exit_status = 2;
    std::string message;
    std::string avi;
    std::string timecodes;
};

std::string take_file(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::error_code ec;
    fs::remove(file, ec);
    return data;
}

Outcome run_way(const fs::path& folder, mp::Way way)
{
    mp::DemuxJob job;
    job.source = folder / "source.mkv";
    job.avi = folder / "out.avi";
    job.timecodes = folder / "out.txt";
    job.way = way;
    mp::Progress quiet(stderr, false);
    Outcome o;
    try {
        const mp::DemuxResult result = mp::run_demux(job, quiet);
        o.exit_status = result.damage ? 1 : 0;
        o.message = result.damage.value_or("");
    } catch (const mp::Error& e) {
        o.message = e.what();
    } catch (const std::bad_alloc&) {
        o.message = "out of memory";
    }
    o.avi = take_file(job.avi);
    o.timecodes = take_file(job.timecodes);
    return o;
}

void disagree(const char* what, const Outcome& direct, const Outcome& demuxer)
{
    std::fprintf(stderr, "the ways disagree on the %s:\n  direct:  %d %s\n  demuxer: %d %s\n", what,
                 direct.exit_status, direct.message.c_str(), demuxer.exit_status, demuxer.message.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const PrivateFolder folder;
    {
        std::ofstream out(folder.path / "source.mkv", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out)
            std::abort();
    }
    const Outcome direct = run_way(folder.path, mp::Way::Direct);
    if (direct.exit_status == 2)
        return 0;  // not an input the direct way takes
    const Outcome demuxer = run_way(folder.path, mp::Way::Demuxer);
    if (direct.exit_status != demuxer.exit_status || direct.message != demuxer.message)
        disagree("outcome", direct, demuxer);
    if (direct.avi != demuxer.avi)
        disagree("AVI file", direct, demuxer);
    if (direct.timecodes != demuxer.timecodes)
        disagree("timecodes file", direct, demuxer);
    return 0;
}
