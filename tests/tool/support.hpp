// Helpers for the end-to-end tests: running programs, temporary folders,
// making the media fixtures, and reading AVI/Matroska files back with
// libavformat/libavcodec.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/rational.h>
}

namespace mptest {
namespace fs = std::filesystem;

struct RunResult {
    int exit_code = -1;  // -1 when killed by a signal
    std::string out;
    std::string err;
};

// Runs `program` with `args` (no shell) in `cwd`, capturing stdout/stderr,
// with its files limited to `file_size_limit` bytes (RLIMIT_FSIZE) when set.
RunResult run(const std::string& program, const std::vector<std::string>& args, const fs::path& cwd = {},
              std::optional<uint64_t> file_size_limit = std::nullopt);

// Starts mp.exe without waiting; returns the child's pid. Output goes to
// files in `log_dir`.
int start_tool(const std::vector<std::string>& args, const fs::path& log_dir, const fs::path& cwd = {});
// Waits for a child started with start_tool; returns its exit code.
int wait_tool(int pid);

std::string mp_exe();

// Waits until `done` holds, looking every few milliseconds, for at most
// `bound` (generous: only a fault makes a test wait that long). Returns
// whether it held.
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds bound = std::chrono::seconds(60));

// Writes `data` into the FIFO at `path` from a thread of its own, which it
// joins on destruction. SIGPIPE is held back in that thread, so a reader
// that goes away early ends the feeding, not the test program.
class FifoFeeder {
public:
    FifoFeeder(fs::path path, std::string data);
    ~FifoFeeder();
    FifoFeeder(const FifoFeeder&) = delete;
    FifoFeeder& operator=(const FifoFeeder&) = delete;

private:
    fs::path path_;
    std::string data_;
    std::thread thread_;
};

// Full path of a program on PATH, or empty.
std::string find_program(const std::string& name);

// A fresh folder, removed with its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

std::string read_file(const fs::path& path);
void write_file(const fs::path& path, const std::string& data);
std::vector<std::string> read_lines(const fs::path& path);
// Names in a folder, sorted.
std::vector<std::string> list_dir(const fs::path& dir);

// Makes (once) and returns the folder with the media fixtures. Throws
// std::runtime_error with a clear message when ffmpeg or mkvmerge is
// missing or fails.
const fs::path& fixtures();

// What the tests compare of a file's first (non-cover) video track.
struct TrackDump {
    std::string format;             // demuxer name
    AVCodecID codec = AV_CODEC_ID_NONE;
    uint32_t codec_tag = 0;
    AVRational time_base{0, 1};
    int64_t packets = 0;
    int64_t listed_frames = 0;  // as the file's header lists them (an AVI's empty chunks included)
    std::vector<uint64_t> packet_hashes;  // of the stored bytes, in storage order
    std::vector<uint64_t> frame_hashes;   // of decoded pictures, in output order
    int decode_errors = 0;
};

// Reads the track; decodes it too when `decode` is set.
TrackDump dump_video(const fs::path& file, bool decode);

std::string fourcc(uint32_t tag);

}  // namespace mptest
