// Makes the fuzzers' starting corpus in the folder given: the media
// fixtures of the tool tests (made with ffmpeg and mkvmerge, or taken from
// MP_FIXTURE_DIR when made already), cut to their first 64 KiB, which hold
// the header and the first clusters; files built element by element with
// unusual tracks, blocks and times; and, for the timecodes target, a few
// frame records of typical and extreme times.
//
//   mp_fuzz_corpus FOLDER   writes FOLDER/matroska/* and FOLDER/timecodes/*
#include "matroska_file.hpp"
#include "support.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace mf = mptest::matroska_file;
namespace mkv = mp::mkv;

namespace {

constexpr size_t kMaxStartingInput = 64 * 1024;

std::vector<std::pair<std::string, std::string>> built_files()
{
    return {
        {"codecless-entry-first.mkv", mf::codecless_entry_first()},
        {"reference-block-of-nine-bytes.mkv", mf::group_at(15, mf::element(mkv::kReferenceBlock, std::string(9, '\1')))},
        {"block-group-with-additions.mkv",
         mf::group_at(3, mf::uint_element(mkv::kReferenceBlock, 1) + mf::uint_element(mkv::kBlockDuration, 41) +
                             mf::element(mkv::kBlockAdditions,
                                         mf::element(mkv::kBlockMore, mf::uint_element(mkv::kBlockAddId, 1) +
                                                                          mf::element(mkv::kBlockAdditional, "x"))))},
        {"frame-lasting-decades.mkv", mf::group_at(15, mf::uint_element(mkv::kBlockDuration, uint64_t{1} << 62))},
        {"default-duration-largest-signed.mkv", mf::with_default_duration(0x7FFFFFFFFFFFFFFF)},
        {"default-duration-one-ns.mkv", mf::with_default_duration(1)},
        {"no-default-duration.mkv", mf::group_at(0, "", std::nullopt)},
        {"interleaved-tracks.mkv",
         mf::file({{1, mkv::kAudioTrack, "A_OPUS", std::nullopt}, {2, mkv::kVideoTrack, "V_VP8", mf::k40Ms}},
                  mf::clusters(2, 12, 40, 1))},
    };
}

// Frame records as fuzz_timecodes reads them: time base, default
// duration, a rate, then pairs of timestamp and duration in ticks.
std::string timecode_records(int32_t num, int32_t den, int64_t default_ns, std::vector<int64_t> values)
{
    std::string s;
    const auto put = [&s](const auto& v) { s.append(reinterpret_cast<const char*>(&v), sizeof v); };
    put(num);
    put(den);
    put(default_ns);
    put(int64_t{1000000000});
    put(default_ns);
    for (const int64_t v : values)
        put(v);
    return s;
}

void write(const mptest::fs::path& file, const std::string& data)
{
    mptest::write_file(file, data.substr(0, kMaxStartingInput));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: mp_fuzz_corpus FOLDER\n", stderr);
        return 2;
    }
    try {
        const mptest::fs::path out = argv[1];
        mptest::fs::create_directories(out / "matroska");
        mptest::fs::create_directories(out / "timecodes");
        int files = 0;
        for (const auto& entry : mptest::fs::directory_iterator(mptest::fixtures())) {
            if (!entry.is_regular_file() || entry.path().filename() == "complete")
                continue;
            write(out / "matroska" / ("fixture-" + entry.path().filename().string()), mptest::read_file(entry.path()));
            ++files;
        }
        for (const auto& [name, data] : built_files()) {
            write(out / "matroska" / name, data);
            ++files;
        }
        const int64_t far = int64_t{1} << 60;
        write(out / "timecodes" / "vfr-milliseconds", timecode_records(1, 1000, 41708333, {0, 41, 42, 41, 83, 0, 125, 42}));
        write(out / "timecodes" / "b-frames", timecode_records(1, 100000, -1, {0, 4000, 12000, 4000, 4000, 4000, 8000, 0}));
        write(out / "timecodes" / "extremes", timecode_records(1, 1000000000, 1, {far, 1, -far, far, INT64_MAX, 0}));
        write(out / "timecodes" / "negative", timecode_records(1, 1000, -1, {-20, 20, 0, 0, -40, 0}));
        files += 4;
        std::printf("%d starting inputs in %s\n", files, out.c_str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mp_fuzz_corpus: %s\n", e.what());
        return 1;
    }
}
