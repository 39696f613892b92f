// Fuzz target: a whole run on arbitrary bytes. It must neither crash nor
// hang, and it must leave exactly what it promises: both outputs after a
// success or a warning, neither after an error, and never a hidden file of
// its own. The files live in a private folder, in memory (/dev/shm) where
// there is one.
#include "common/av_error.hpp"
#include "demux.hpp"
#include "report/progress.hpp"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <set>
#include <string>

namespace fs = std::filesystem;

namespace {

// A folder of this process's own, removed at exit.
class PrivateFolder {
public:
    PrivateFolder()
    {
        for (const fs::path& base : {fs::path("/dev/shm"), fs::temp_directory_path()}) {
            std::string pattern = (base / "mp-fuzz-run-XXXXXX").string();
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

std::set<std::string> names_in(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const PrivateFolder folder;
    mp::DemuxJob job;
    job.source = folder.path / "source.mkv";
    job.avi = folder.path / "out.avi";
    job.timecodes = folder.path / "out.txt";
    {
        std::ofstream out(job.source, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out)
            std::abort();
    }
    mp::Progress quiet(stderr, false);
    bool written = false;
    try {
        const mp::DemuxResult result = mp::run_demux(job, quiet);
        written = result.frames > 0;
        if (!written)
            std::abort();  // a success must have frames
    } catch (const mp::Error&) {
    } catch (const std::bad_alloc&) {
    }
    const std::set<std::string> expected =
        written ? std::set<std::string>{"out.avi", "out.txt", "source.mkv"} : std::set<std::string>{"source.mkv"};
    if (names_in(folder.path) != expected) {
        for (const std::string& name : names_in(folder.path))
            std::fprintf(stderr, "left in the folder: %s\n", name.c_str());
        std::abort();
    }
    std::error_code ec;
    fs::remove(job.avi, ec);
    fs::remove(job.timecodes, ec);
    return 0;
}
