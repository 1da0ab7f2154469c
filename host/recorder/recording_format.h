#pragma once
// The recording file: a fixed header, then one record per image, appended in order. Every
// record carries its frame number, its time in ticks (100 ns since 0001-01-01) and a CRC-32 over
// its header fields and image bytes, so a reader can check each frame and a file cut short
// gives back every complete record before the cut. All numbers little-endian.
#include <cstdint>

namespace Vorn::Zephra::Net::Devices::Recorder {

inline constexpr char kRecordingMagic[8] = {'Z', 'R', 'E', 'C', 'O', 'R', 'D', '1'};
inline constexpr std::uint32_t kRecordingVersion = 1;

struct RecordingFileHeader {       // 32 bytes
    char magic[8];                 // kRecordingMagic
    std::uint32_t version;         // kRecordingVersion
    std::uint32_t headerSize;      // sizeof(RecordingFileHeader)
    std::int64_t createdTicks;     // when the recording started
    std::uint32_t imageSize;       // image size when the recording started (informative)
    std::uint32_t reserved;
};
static_assert(sizeof(RecordingFileHeader) == 32);

inline constexpr std::uint32_t kFrameRecordMagic = 0x4D524652;  // "RFRM" on disk

struct FrameRecordHeader {         // 32 bytes, followed by `length` image bytes
    std::uint32_t magic;           // kFrameRecordMagic
    std::uint32_t length;          // image bytes that follow
    std::uint64_t frameNumber;
    std::int64_t ticks;
    std::uint32_t crc;             // CRC-32 of the 24 bytes above, then of the image bytes
    std::uint32_t reserved;
};
static_assert(sizeof(FrameRecordHeader) == 32);

// Refuses absurd lengths a damaged record might claim.
inline constexpr std::uint32_t kMaxFrameRecordLength = 256u * 1024u * 1024u;

}  // namespace Vorn::Zephra::Net::Devices::Recorder
