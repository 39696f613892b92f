// Matroska's vocabulary as this tool uses it: element IDs, track types and
// codec IDs. The scanner and the tests name elements from here.
#pragma once

#include <cstdint>
#include <string_view>

namespace mp::mkv {

// Top level.
constexpr uint32_t kEbml = 0x1A45DFA3;
constexpr uint32_t kSegment = 0x18538067;

// Children of the EBML header.
constexpr uint32_t kEbmlMaxIdLength = 0x42F2;
constexpr uint32_t kEbmlMaxSizeLength = 0x42F3;
constexpr uint32_t kDocType = 0x4282;
constexpr uint32_t kDocTypeReadVersion = 0x4285;

// Children of the segment.
constexpr uint32_t kSeekHead = 0x114D9B74;
constexpr uint32_t kInfo = 0x1549A966;
constexpr uint32_t kTracks = 0x1654AE6B;
constexpr uint32_t kChapters = 0x1043A770;
constexpr uint32_t kCues = 0x1C53BB6B;
constexpr uint32_t kAttachments = 0x1941A469;
constexpr uint32_t kTags = 0x1254C367;
constexpr uint32_t kCluster = 0x1F43B675;

// Allowed anywhere.
constexpr uint32_t kVoid = 0xEC;
constexpr uint32_t kCrc32 = 0xBF;

// Children of Info.
constexpr uint32_t kTimestampScale = 0x2AD7B1;

// Children of Tracks and of a track entry.
constexpr uint32_t kTrackEntry = 0xAE;
constexpr uint32_t kTrackNumber = 0xD7;
constexpr uint32_t kTrackType = 0x83;
constexpr uint32_t kCodecId = 0x86;
constexpr uint32_t kDefaultDuration = 0x23E383;
constexpr uint32_t kContentEncodings = 0x6D80;
constexpr uint32_t kCodecDelay = 0x56AA;
constexpr uint32_t kTrackTimestampScale = 0x23314F;
constexpr uint32_t kVideo = 0xE0;
constexpr uint32_t kFrameRate = 0x2383E3;  // child of Video

// Children of a cluster.
constexpr uint32_t kTimestamp = 0xE7;
constexpr uint32_t kSilentTracks = 0x5854;
constexpr uint32_t kPosition = 0xA7;
constexpr uint32_t kPrevSize = 0xAB;
constexpr uint32_t kSimpleBlock = 0xA3;
constexpr uint32_t kBlockGroup = 0xA0;

// Children of a block group.
constexpr uint32_t kBlock = 0xA1;
constexpr uint32_t kBlockAdditions = 0x75A1;
constexpr uint32_t kBlockDuration = 0x9B;
constexpr uint32_t kReferencePriority = 0xFA;
constexpr uint32_t kReferenceBlock = 0xFB;
constexpr uint32_t kCodecState = 0xA4;
constexpr uint32_t kDiscardPadding = 0x75A2;
constexpr uint32_t kSlices = 0x8E;

// Children of BlockAdditions and of a BlockMore.
constexpr uint32_t kBlockMore = 0xA6;
constexpr uint32_t kBlockAddId = 0xEE;
constexpr uint32_t kBlockAdditional = 0xA5;

// Values of TrackType.
constexpr uint64_t kVideoTrack = 1;
constexpr uint64_t kAudioTrack = 2;

// Codec IDs. H.264 and HEVC IDs may carry a suffix after these.
constexpr std::string_view kVfwCodecId = "V_MS/VFW/FOURCC";
constexpr std::string_view kAvcCodecId = "V_MPEG4/ISO/AVC";
constexpr std::string_view kHevcCodecId = "V_MPEGH/ISO/HEVC";

// A track stored in VfW compatibility mode: its codec private data is a
// BITMAPINFOHEADER holding the AVI FourCC.
constexpr bool stored_in_vfw_mode(std::string_view codec_id)
{
    return codec_id == kVfwCodecId;
}

}  // namespace mp::mkv
