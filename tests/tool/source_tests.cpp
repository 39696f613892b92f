// What is worked out from the source before anything is written: whether
// it can be opened, and the AVI FourCC.
#include "common/av_error.hpp"
#include "output/avi_writer.hpp"
#include "source/source_file.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

template <typename Case>
std::string row_name(const ::testing::TestParamInfo<Case>& info)
{
    return info.param.name;
}

// ---------------------------------------------------------------------------
struct OpenCase {
    const char* name;
    const char* path;
    const char* message;  // part of the error
};

void PrintTo(const OpenCase& c, std::ostream* os)
{
    *os << c.name;
}

class MpSourceFileRefused : public ::testing::TestWithParam<OpenCase> {};

TEST_P(MpSourceFileRefused, NamesTheSourceAndTheReason)
{
    const OpenCase& c = GetParam();
    try {
        mp::SourceFile file{std::filesystem::path(c.path)};
        ADD_FAILURE() << "opened " << c.path;
    } catch (const mp::Error& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find(std::string("'") + c.path + "'"), std::string::npos) << text;
        EXPECT_NE(text.find(c.message), std::string::npos) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, MpSourceFileRefused,
                         ::testing::Values(OpenCase{"Folder", "/", "is a folder, not a file"},
                                           OpenCase{"Missing", "/nonexistent/source.mkv",
                                                    "cannot open source '/nonexistent/source.mkv': no such file"}),
                         row_name<OpenCase>);

// ---------------------------------------------------------------------------
struct FourccCase {
    const char* name;
    AVCodecID codec;
    const char* source_tag;  // nullptr: none
    const char* expected;    // nullptr: no FourCC; "" the FourCC 0 (BI_RGB)
    AVPixelFormat format = AV_PIX_FMT_NONE;
};

void PrintTo(const FourccCase& c, std::ostream* os)
{
    *os << c.name;
}

uint32_t tag_of(const char* text)
{
    return text && *text ? MKTAG(text[0], text[1], text[2], text[3]) : 0;
}

class MpFourcc : public ::testing::TestWithParam<FourccCase> {};

TEST_P(MpFourcc, ChoosesTheAviFourcc)
{
    const FourccCase& c = GetParam();
    AVCodecParameters* par = avcodec_parameters_alloc();
    par->codec_id = c.codec;
    par->format = c.format;
    const std::optional<uint32_t> chosen = mp::choose_fourcc(par, tag_of(c.source_tag));
    avcodec_parameters_free(&par);
    EXPECT_EQ(chosen, c.expected ? std::optional<uint32_t>(tag_of(c.expected)) : std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, MpFourcc,
    ::testing::Values(FourccCase{"H264", AV_CODEC_ID_H264, nullptr, "H264"},
                      FourccCase{"Hevc", AV_CODEC_ID_HEVC, nullptr, "HEVC"},
                      FourccCase{"HevcIgnoresItsMp4Tag", AV_CODEC_ID_HEVC, "hvc1", "HEVC"},
                      FourccCase{"VfwXvidKept", AV_CODEC_ID_MPEG4, "XVID", "XVID"},
                      FourccCase{"VfwDivxKept", AV_CODEC_ID_MPEG4, "DX50", "DX50"},
                      FourccCase{"Mpeg4Usual", AV_CODEC_ID_MPEG4, nullptr, "FMP4"},
                      FourccCase{"TagOfAnotherCodecNotKept", AV_CODEC_ID_MPEG4, "H264", "FMP4"},
                      FourccCase{"Ffv1", AV_CODEC_ID_FFV1, "FFV1", "FFV1"},
                      FourccCase{"Vp8", AV_CODEC_ID_VP8, nullptr, "VP80"},
                      FourccCase{"ProresHasNone", AV_CODEC_ID_PRORES, nullptr, nullptr},
                      FourccCase{"NoCodecHasNone", AV_CODEC_ID_NONE, nullptr, nullptr},
                      FourccCase{"RawYuvByItsPixelFormat", AV_CODEC_ID_RAWVIDEO, nullptr, "I420", AV_PIX_FMT_YUV420P},
                      FourccCase{"RawKeepsItsOwnFourcc", AV_CODEC_ID_RAWVIDEO, "YV12", "YV12", AV_PIX_FMT_YUV420P},
                      FourccCase{"RawRgbIsBiRgb", AV_CODEC_ID_RAWVIDEO, nullptr, "", AV_PIX_FMT_BGR24},
                      FourccCase{"RawOfUnknownFormatIsBiRgb", AV_CODEC_ID_RAWVIDEO, nullptr, ""}),
    row_name<FourccCase>);

}  // namespace
