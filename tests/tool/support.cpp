#include "support.hpp"

#include "common/av_ptr.hpp"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <fcntl.h>
#include <signal.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>

namespace mptest {

std::string mp_exe()
{
    return MP_EXE;
}

std::string find_program(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const fs::path candidate = fs::path(dir.empty() ? "." : dir) / name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return {};
}

namespace {

pid_t spawn(const std::string& program, const std::vector<std::string>& args, const fs::path& cwd,
            const fs::path& out_file, const fs::path& err_file, std::optional<uint64_t> file_size_limit = {})
{
    std::vector<std::string> argv_storage{program};
    argv_storage.insert(argv_storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0)
            _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(126);
        if (file_size_limit) {
            const rlimit limit{static_cast<rlim_t>(*file_size_limit), static_cast<rlim_t>(*file_size_limit)};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                _exit(126);
        }
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

int wait_exit(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

RunResult run(const std::string& program, const std::vector<std::string>& args, const fs::path& cwd,
              std::optional<uint64_t> file_size_limit)
{
    TempDir logs;
    const pid_t pid = spawn(program, args, cwd, logs / "out", logs / "err", file_size_limit);
    RunResult r;
    r.exit_code = wait_exit(pid);
    r.out = read_file(logs / "out");
    r.err = read_file(logs / "err");
    return r;
}

int start_tool(const std::vector<std::string>& args, const fs::path& log_dir, const fs::path& cwd)
{
    return spawn(mp_exe(), args, cwd, log_dir / "out", log_dir / "err");
}

int wait_tool(int pid)
{
    return wait_exit(pid);
}

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds bound)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

FifoFeeder::FifoFeeder(fs::path path, std::string data) : path_(std::move(path)), data_(std::move(data))
{
    thread_ = std::thread([this] {
        sigset_t pipe_signal;
        sigemptyset(&pipe_signal);
        sigaddset(&pipe_signal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
        const int fd = open(path_.c_str(), O_WRONLY);
        if (fd < 0)
            return;
        for (size_t at = 0; at < data_.size();) {
            const ssize_t n = write(fd, data_.data() + at, data_.size() - at);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;  // EPIPE: the reader is gone
            at += static_cast<size_t>(n);
        }
        close(fd);
        // A SIGPIPE that a write raised stays pending in this thread and
        // ends with it.
    });
}

FifoFeeder::~FifoFeeder()
{
    // A feeder still waiting for its reader to open the FIFO is let go by
    // a reader that comes and goes: its writes then end with EPIPE.
    const int unblock = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
    if (unblock >= 0)
        close(unblock);
    thread_.join();
}

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "mp-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const fs::path& path, const std::string& data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::string> read_lines(const fs::path& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

std::vector<std::string> list_dir(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string fourcc(uint32_t tag)
{
    std::string s;
    for (int i = 0; i < 4; ++i)
        s += static_cast<char>((tag >> (8 * i)) & 0xFF);
    return s;
}

// ---------------------------------------------------------------------------
// Fixtures

namespace {

void must_run(const std::string& tool, const std::vector<std::string>& args)
{
    const std::string program = find_program(tool);
    if (program.empty())
        throw std::runtime_error(tool + " is not installed (run `make test`, which installs it)");
    const RunResult r = run(program, args);
    if (r.exit_code != 0 && !(tool == "mkvmerge" && r.exit_code == 1)) {
        std::string cmd = tool;
        for (const auto& a : args)
            cmd += " " + a;
        throw std::runtime_error("fixture command failed (" + std::to_string(r.exit_code) + "): " + cmd + "\n" + r.err +
                                 r.out);
    }
}

// A timestamp v2 file with irregular frame intervals (in ms), starting at
// `start_ms`.
void write_vfr_timestamps(const fs::path& file, int frames, double start_ms)
{
    static const double kIntervals[] = {33.3667, 40.0, 41.7083, 20.02, 100.5, 16.6833, 40.0, 33.3667};
    std::ostringstream s;
    s << "# timestamp format v2\n";
    s.setf(std::ios::fixed);
    s.precision(4);
    double t = start_ms;
    for (int i = 0; i < frames; ++i) {
        s << t << "\n";
        t += kIntervals[(i * 5 + i / 3) % 8];
    }
    write_file(file, s.str());
}

std::vector<std::string> ffmpeg_args(std::vector<std::string> args)
{
    args.insert(args.begin(), {"-hide_banner", "-loglevel", "error", "-nostdin", "-y"});
    return args;
}

void damage(const fs::path& from, const fs::path& to, const std::function<void(std::string&)>& change)
{
    std::string data = read_file(from);
    change(data);
    write_file(to, data);
}

void make_fixtures(const fs::path& dir)
{
    const fs::path work = dir / "work";
    fs::create_directories(work);
    const std::string w = work.string() + "/";
    const std::string d = dir.string() + "/";

    // H.264 with B-frames, irregular timestamps with sub-millisecond parts
    // (10 us timestamp scale), starting at 1000.25 ms.
    // Noise keeps the frames above mp.exe's threshold for kernel copies.
    const std::string noisy = "testsrc2=s=160x120:r=25,noise=alls=20:allf=t";
    must_run("ffmpeg", ffmpeg_args({"-f", "lavfi", "-i", noisy, "-frames:v", "40", "-c:v", "libx264", "-preset",
                                    "veryfast", "-bf", "3", "-g", "15", "-crf", "20", "-pix_fmt", "yuv420p",
                                    w + "h264_bf.mkv"}));
    write_vfr_timestamps(work / "tc_bf.txt", 40, 1000.25);
    must_run("mkvmerge", {"-q", "--timestamp-scale", "10000", "-o", d + "h264_bframes.mkv", "--timestamps",
                          "0:" + w + "tc_bf.txt", w + "h264_bf.mkv"});

    // The same with zlib-compressed frames: the demuxer hands out rebuilt
    // data that is nowhere in the file as such, so it cannot be copied
    // from the source.
    must_run("mkvmerge", {"-q", "-o", d + "h264_zlib.mkv", "--compression", "0:zlib", d + "h264_bframes.mkv"});

    // The same without a default duration: libavformat must estimate the
    // rate, and the last frame has no duration of its own.
    fs::copy_file(dir / "h264_bframes.mkv", dir / "no_default_duration.mkv");
    must_run("mkvpropedit", {"-q", d + "no_default_duration.mkv", "--edit", "track:v1", "--delete",
                             "default-duration"});

    // An audio track before the video track, a cover picture attached, and
    // H.264 without B-frames on a 1 ms timestamp scale.
    must_run("ffmpeg", ffmpeg_args({"-f", "lavfi", "-i", "sine=d=2", "-c:a", "flac", w + "sine.mka"}));
    must_run("ffmpeg", ffmpeg_args({"-f", "lavfi", "-i", "testsrc2=s=64x48", "-frames:v", "1", w + "cover.png"}));
    must_run("ffmpeg", ffmpeg_args({"-f", "lavfi", "-i", "testsrc=s=128x96:r=30000/1001", "-frames:v", "30", "-c:v",
                                    "libx264", "-preset", "veryfast", "-bf", "0", "-pix_fmt", "yuv420p",
                                    w + "h264_nob.mkv"}));
    write_vfr_timestamps(work / "tc_nob.txt", 30, 0);
    must_run("mkvmerge", {"-q", "-o", d + "audio_first.mkv", w + "sine.mka", "--timestamps", "0:" + w + "tc_nob.txt",
                          w + "h264_nob.mkv", "--attachment-mime-type", "image/png", "--attachment-name", "cover.png",
                          "--attach-file", w + "cover.png"});

    // HEVC with B-frames.
    must_run("ffmpeg", ffmpeg_args({"-f", "lavfi", "-i", noisy, "-frames:v", "24", "-c:v",
                                    "libx265", "-preset", "ultrafast", "-x265-params", "log-level=error:bframes=2",
                                    "-pix_fmt", "yuv420p", w + "hevc.mkv"}));
    write_vfr_timestamps(work / "tc_hevc.txt", 24, 500);
    must_run("mkvmerge",
             {"-q", "-o", d + "hevc.mkv", "--timestamps", "0:" + w + "tc_hevc.txt", w + "hevc.mkv"});

    // MPEG-4 ASP with B-frames and FFV1, both from AVI, so mkvmerge
    // stores them in VfW mode (V_MS/VFW/FOURCC).
    must_run("ffmpeg", ffmpeg_args({"-f", "lavfi", "-i", noisy, "-frames:v", "30", "-c:v", "mpeg4", "-bf", "2", "-g",
                                    "12", "-q:v", "3", "-vtag", "XVID", w + "mpeg4.avi"}));
    write_vfr_timestamps(work / "tc_mpeg4.txt", 30, 0);
    must_run("mkvmerge",
             {"-q", "-o", d + "vfw_mpeg4.mkv", "--timestamps", "0:" + w + "tc_mpeg4.txt", w + "mpeg4.avi"});
    must_run("ffmpeg", ffmpeg_args({"-f", "lavfi", "-i", "testsrc2=s=96x64:r=24000/1001", "-frames:v", "12",
                                    "-c:v", "ffv1", w + "ffv1.avi"}));
    must_run("mkvmerge", {"-q", "-o", d + "vfw_ffv1.mkv", w + "ffv1.avi"});

    // Raw video: yuv420p stored natively, and bgr24 from an AVI, which
    // mkvmerge stores in VfW mode with the FourCC 0 (BI_RGB).
    must_run("ffmpeg", ffmpeg_args({"-f", "lavfi", "-i", "testsrc2=s=64x48:r=25", "-frames:v", "10", "-c:v",
                                    "rawvideo", "-pix_fmt", "yuv420p", d + "raw_yuv420p.mkv"}));
    must_run("ffmpeg", ffmpeg_args({"-f", "lavfi", "-i", "testsrc2=s=64x48:r=25", "-frames:v", "10", "-c:v",
                                    "rawvideo", "-pix_fmt", "bgr24", w + "bgr24.avi"}));
    must_run("mkvmerge", {"-q", "-o", d + "raw_bgr24_vfw.mkv", w + "bgr24.avi"});

    // VP8 in WebM.
    must_run("ffmpeg", ffmpeg_args({"-f", "lavfi", "-i", "testsrc2=s=128x96:r=25", "-frames:v", "20", "-c:v", "libvpx",
                                    "-b:v", "200k", w + "vp8.webm"}));
    write_vfr_timestamps(work / "tc_vp8.txt", 20, 0);
    must_run("mkvmerge",
             {"-q", "--webm", "-o", d + "vp8.webm", "--timestamps", "0:" + w + "tc_vp8.txt", w + "vp8.webm"});

    // A codec AVI has no FourCC for.
    must_run("ffmpeg", ffmpeg_args({"-f", "lavfi", "-i", "testsrc2=s=64x48:r=25", "-frames:v", "3", "-c:v",
                                    "prores", d + "prores.mkv"}));

    // Audio only, with a cover picture (which libavformat shows as a video
    // stream that must not be taken).
    must_run("mkvmerge", {"-q", "-o", d + "audio_only.mkv", w + "sine.mka", "--attachment-mime-type", "image/png",
                          "--attachment-name", "cover.png", "--attach-file", w + "cover.png"});

    write_file(dir / "text.mkv", "This is a plain text file, not a video.\n");
    // The containers people record in, all holding one variable-frame-rate
    // H.264 track with B-frames (times in whole milliseconds, as mkvmerge
    // stores them by default, so every container holds them exactly).
    must_run("ffmpeg", ffmpeg_args({"-f", "lavfi", "-i", "testsrc2=s=128x96:r=30", "-frames:v", "48", "-c:v", "libx264",
                                    "-preset", "veryfast", "-bf", "2", "-g", "12", "-pix_fmt", "yuv420p", w + "cfr.mkv"}));
    write_vfr_timestamps(work / "tc_ms.txt", 48, 0);
    must_run("mkvmerge", {"-q", "-o", w + "vfr_ms.mkv", "--timestamps", "0:" + w + "tc_ms.txt", w + "cfr.mkv"});
    const auto remux = [&](std::vector<std::string> options, const std::string& name) {
        std::vector<std::string> args{"-i", w + "vfr_ms.mkv", "-map", "0:v", "-c", "copy"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(d + name);
        must_run("ffmpeg", ffmpeg_args(args));
    };
    remux({}, "vfr.mp4");
    remux({}, "vfr.mov");
    remux({}, "vfr.3gp");
    remux({"-movflags", "frag_keyframe+empty_moov"}, "vfr_fragmented.mp4");
    remux({"-f", "mpegts"}, "vfr.ts");
    remux({}, "vfr.flv");
    remux({"-metadata:s:v", "rotate=90"}, "vfr_rotated.mp4");
    // An edit list that starts the movie later than its first frames, as a
    // cut without re-encoding makes it.
    must_run("ffmpeg", ffmpeg_args({"-ss", "0.3", "-i", d + "vfr.mp4", "-c", "copy", d + "vfr_edit_list.mp4"}));
    // Two video tracks: the AVI takes the first.
    must_run("ffmpeg", ffmpeg_args({"-i", d + "vfr.mp4", "-i", w + "cfr.mkv", "-map", "0:v", "-map", "1:v", "-c",
                                    "copy", d + "two_videos.mp4"}));
    // An AVI of its own, with a FourCC of its own.
    must_run("ffmpeg", ffmpeg_args({"-f", "lavfi", "-i", "testsrc2=s=96x64:r=25", "-frames:v", "20", "-c:v", "mpeg4",
                                    "-vtag", "DX50", d + "dx50.avi"}));

    // A long clip for the interruption test.
    must_run("ffmpeg", ffmpeg_args({"-f", "lavfi", "-i", "testsrc2=s=160x120:r=25", "-frames:v", "600", "-c:v",
                                    "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", d + "long.mkv"}));

    // Damaged copies of the B-frame clip.
    const fs::path good = dir / "h264_bframes.mkv";
    damage(good, dir / "cut.mkv", [](std::string& s) { s.resize(s.size() * 6 / 10); });
    damage(good, dir / "header_magic.mkv", [](std::string& s) { s.replace(0, 4, 4, '\0'); });
    damage(good, dir / "header_cut.mkv", [](std::string& s) { s.resize(100); });
    damage(good, dir / "header_tracks.mkv", [](std::string& s) {
        // The Tracks element itself (its ID also appears earlier, in the
        // seek index): the last occurrence before the first cluster.
        const std::string tracks_id("\x16\x54\xAE\x6B", 4);
        const size_t cluster = s.find(std::string("\x1F\x43\xB6\x75", 4));
        const size_t at = s.rfind(tracks_id, cluster);
        if (at == std::string::npos)
            throw std::runtime_error("no Tracks element in the fixture");
        s.replace(at + 4, 64, 64, '\xEE');
    });

    fs::remove_all(work);
}

}  // namespace

// Bumped whenever make_fixtures() changes, so an old set is not reused.
constexpr const char* kFixtureVersion = "mp-fixtures 8";

const fs::path& fixtures()
{
    static std::mutex mutex;
    static fs::path ready;
    std::lock_guard lock(mutex);
    if (!ready.empty())
        return ready;
    const char* env = std::getenv("MP_FIXTURE_DIR");
    const fs::path dir = env && *env ? fs::path(env) : fs::path(MP_FIXTURE_DIR);
    const char* fresh_env = std::getenv("MP_FIXTURES_FRESH");
    const bool fresh_wanted = fresh_env && *fresh_env == '1';
    if (fresh_wanted || read_file(dir / "complete") != kFixtureVersion) {
        fs::create_directories(dir.parent_path());
        // Move an old set aside first (rename is atomic), then build in a
        // private folder and rename it into place, so parallel test
        // processes never see half-made files.
        if (fs::exists(dir)) {
            std::string old = (dir.parent_path() / "mp_fixtures.old-XXXXXX").string();
            if (mkdtemp(old.data())) {
                std::error_code ec;
                fs::rename(dir, fs::path(old) / "set", ec);
                fs::remove_all(old, ec);
            }
        }
        std::string pattern = (dir.parent_path() / "mp_fixtures.new-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot create a fixture folder");
        const fs::path fresh = pattern;
        try {
            make_fixtures(fresh);
            write_file(fresh / "complete", kFixtureVersion);
        } catch (...) {
            fs::remove_all(fresh);
            throw;
        }
        std::error_code ec;
        fs::rename(fresh, dir, ec);
        if (ec)  // another process finished first
            fs::remove_all(fresh);
    }
    ready = dir;
    return ready;
}

// ---------------------------------------------------------------------------
// Reading media back

namespace {

uint64_t fnv1a(const uint8_t* data, size_t size, uint64_t hash = 1469598103934665603ULL)
{
    for (size_t i = 0; i < size; ++i) {
        hash ^= data[i];
        hash *= 1099511628211ULL;
    }
    return hash;
}

uint64_t hash_frame(const AVFrame* frame)
{
    const int size = av_image_get_buffer_size(static_cast<AVPixelFormat>(frame->format), frame->width,
                                              frame->height, 1);
    if (size <= 0)
        return 0;
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    av_image_copy_to_buffer(buffer.data(), size, frame->data, frame->linesize,
                            static_cast<AVPixelFormat>(frame->format), frame->width, frame->height, 1);
    return fnv1a(buffer.data(), buffer.size());
}

}  // namespace

TrackDump dump_video(const fs::path& file, bool decode)
{
    TrackDump dump;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, file.c_str(), nullptr, nullptr) < 0)
        throw std::runtime_error("cannot open " + file.string());
    mp::InputFormatPtr input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0)
        throw std::runtime_error("cannot read stream info of " + file.string());
    dump.format = input->iformat->name;
    int index = -1;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* st = input->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            index = static_cast<int>(i);
            break;
        }
    }
    if (index < 0)
        throw std::runtime_error("no video stream in " + file.string());
    const AVStream* st = input->streams[index];
    dump.codec = st->codecpar->codec_id;
    dump.codec_tag = st->codecpar->codec_tag;
    dump.time_base = st->time_base;
    dump.listed_frames = st->nb_frames;

    mp::CodecContextPtr decoder;
    mp::FramePtr frame(av_frame_alloc());
    if (decode) {
        const AVCodec* codec = avcodec_find_decoder(dump.codec);
        if (!codec)
            throw std::runtime_error("no decoder for " + file.string());
        decoder.reset(avcodec_alloc_context3(codec));
        avcodec_parameters_to_context(decoder.get(), st->codecpar);
        decoder->thread_count = 1;
        if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
            throw std::runtime_error("cannot open decoder for " + file.string());
    }
    auto drain = [&] {
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            dump.frame_hashes.push_back(hash_frame(frame.get()));
            av_frame_unref(frame.get());
        }
    };
    mp::PacketPtr pkt(av_packet_alloc());
    while (av_read_frame(input.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == index) {
            ++dump.packets;
            dump.packet_hashes.push_back(fnv1a(pkt->data, static_cast<size_t>(pkt->size)));
            if (decode) {
                if (avcodec_send_packet(decoder.get(), pkt.get()) < 0)
                    ++dump.decode_errors;
                drain();
            }
        }
        av_packet_unref(pkt.get());
    }
    if (decode) {
        avcodec_send_packet(decoder.get(), nullptr);
        drain();
    }
    return dump;
}

}  // namespace mptest
