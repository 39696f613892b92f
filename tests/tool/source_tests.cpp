// What is worked out from the source before anything is written: whether
// it can be opened, the AVI FourCC, and the NAL length field size.
#include "av_error.hpp"
#include "avi_writer.hpp"
#include "nal_units.hpp"
#include "source_file.hpp"

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
    const char* expected;    // nullptr: no FourCC
};

void PrintTo(const FourccCase& c, std::ostream* os)
{
    *os << c.name;
}

uint32_t tag_of(const char* text)
{
    return text ? MKTAG(text[0], text[1], text[2], text[3]) : 0;
}

class MpFourcc : public ::testing::TestWithParam<FourccCase> {};

TEST_P(MpFourcc, ChoosesTheAviFourcc)
{
    const FourccCase& c = GetParam();
    EXPECT_EQ(mp::choose_fourcc(c.codec, tag_of(c.source_tag)), tag_of(c.expected));
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
                      FourccCase{"NoCodecHasNone", AV_CODEC_ID_NONE, nullptr, nullptr}),
    row_name<FourccCase>);

// ---------------------------------------------------------------------------
struct NalCase {
    const char* name;
    AVCodecID codec;
    std::vector<uint8_t> extradata;
    int expected;
};

void PrintTo(const NalCase& c, std::ostream* os)
{
    *os << c.name;
}

// avcC with lengthSizeMinusOne in byte 4; hvcC with it in byte 21.
std::vector<uint8_t> avcc(uint8_t byte4)
{
    return {1, 0x64, 0, 0x28, byte4, 0xE1, 0};
}

std::vector<uint8_t> hvcc(uint8_t byte21)
{
    std::vector<uint8_t> v(23, 0);
    v[0] = 1;
    v[21] = byte21;
    return v;
}

class MpNalLengthSize : public ::testing::TestWithParam<NalCase> {};

TEST_P(MpNalLengthSize, ReadsTheCodecData)
{
    const NalCase& c = GetParam();
    EXPECT_EQ(mp::nal_length_size_of(c.codec, c.extradata.data(), c.extradata.size()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    CodecData, MpNalLengthSize,
    ::testing::Values(NalCase{"H264FourBytes", AV_CODEC_ID_H264, avcc(0xFF), 4},
                      NalCase{"H264TwoBytes", AV_CODEC_ID_H264, avcc(0xFD), 2},
                      NalCase{"HevcFourBytes", AV_CODEC_ID_HEVC, hvcc(0x0F), 4},
                      NalCase{"HevcOneByte", AV_CODEC_ID_HEVC, hvcc(0x0C), 1},
                      NalCase{"AnnexBCodecData", AV_CODEC_ID_H264, {0, 0, 0, 1, 0x67, 0x64, 0, 0x28}, 0},
                      NalCase{"H264TooShort", AV_CODEC_ID_H264, {1, 0x64, 0, 0x28, 0xFF}, 0},
                      NalCase{"HevcDataReadAsH264Size", AV_CODEC_ID_HEVC, avcc(0xFF), 0},
                      NalCase{"OtherCodec", AV_CODEC_ID_VP8, avcc(0xFF), 0},
                      NalCase{"NoCodecData", AV_CODEC_ID_H264, {}, 0}),
    row_name<NalCase>);

}  // namespace
