// Damaged recordings: a damaged byte costs at most the frame it is in, wherever it falls, and the
// scan past damage reads the file once however many false markers it holds.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "host/recorder/record_scan.h"
#include "host/recorder/recording_file.h"
#include "host/system/exceptions.h"
#include "tests/host/recorder/recording_helpers.h"
#include "tests/host/recorder/temp_dir.h"

using namespace Vorn::Zephra::Net::Devices::Recorder;

namespace {

constexpr std::size_t kHeader = sizeof(RecordingFileHeader), kRecord = sizeof(FrameRecordHeader);


void Put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A record as the writer makes it.
std::string Record(std::uint64_t number, const std::vector<std::uint8_t>& image) {
    FrameRecordHeader header = FrameRecordFor(number, 1000 + static_cast<std::int64_t>(number),
                                              static_cast<std::uint32_t>(image.size()));
    header.crc = FrameRecordChecksum(header, image.data(), header.length);
    std::string out(reinterpret_cast<const char*>(&header), sizeof header);
    out.append(image.begin(), image.end());
    return out;
}

std::string Recording(int frames, std::size_t size) {
    RecordingFileHeader header{};
    std::memcpy(header.magic, kRecordingMagic, sizeof header.magic);
    header.version = kRecordingVersion;
    header.headerSize = sizeof header;
    header.imageSize = static_cast<std::uint32_t>(size);
    std::string out(reinterpret_cast<const char*>(&header), sizeof header);
    for (int n = 1; n <= frames; ++n) out += Record(static_cast<std::uint64_t>(n), TestImage(size, n));
    return out;
}

struct ReadBack {
    std::vector<std::uint64_t> whole;  // numbers of the frames whose checksums verify
    int failing = 0;                   // frames returned whose checksums fail
    std::vector<DamagedRange> damaged;
    RecordingReader::End ending = RecordingReader::End::None;
    bool headerDamaged = false;
};

ReadBack Read(const std::string& path) {
    RecordingReader reader(path);
    ReadBack back;
    for (RecordedFrame f; reader.Next(f);) {
        if (f.checksumOk) back.whole.push_back(f.frameNumber);
        else ++back.failing;
    }
    back.damaged = reader.DamagedRanges();
    back.ending = reader.Ending();
    back.headerDamaged = reader.HeaderDamaged();
    return back;
}

std::vector<std::uint64_t> AllBut(int frames, std::uint64_t left) {
    std::vector<std::uint64_t> numbers;
    for (int n = 1; n <= frames; ++n)
        if (static_cast<std::uint64_t>(n) != left) numbers.push_back(static_cast<std::uint64_t>(n));
    return numbers;
}

// Every byte of the first, a middle and the last record flipped in turn: every other frame
// reads back whole, and the damaged one is returned failing its checksum, or passed over as one
// frame lost, or (the last) ends the file as damage.
TEST(DamagedRecording, AFlippedByteAnywhereInARecordCostsAtMostThatFrame) {
    TempDir dir;
    constexpr int kFrames = 5;
    constexpr std::size_t kSize = 64;
    const std::string whole = Recording(kFrames, kSize);
    for (const int damagedFrame : {1, 3, kFrames}) {
        const std::size_t start = kHeader + (damagedFrame - 1) * (kRecord + kSize);
        for (std::size_t at = start; at < start + kRecord + kSize; ++at) {
            std::string bytes = whole;
            bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
            Put(dir.File("r.zrec"), bytes);
            const ReadBack back = Read(dir.File("r.zrec"));
            const std::string where = "frame " + std::to_string(damagedFrame) + ", byte " +
                                      std::to_string(at - start);
            const bool reservedByte = at - start >= offsetof(FrameRecordHeader, reserved) &&
                                      at - start < kRecord;
            if (reservedByte) {  // not covered: the frame stays whole
                EXPECT_EQ(back.whole, AllBut(kFrames, 0)) << where;
                continue;
            }
            EXPECT_EQ(back.whole, AllBut(kFrames, static_cast<std::uint64_t>(damagedFrame))) << where;
            std::uint64_t lost = back.failing;
            for (const DamagedRange& r : back.damaged) {
                EXPECT_EQ(r.offset, start) << where;
                EXPECT_EQ(r.length, kRecord + kSize) << where;
                lost += r.framesLost;
            }
            // The last record damaged ends the file: damage, or cut short when its length
            // now runs past the end.
            const bool endsDamaged = back.ending == RecordingReader::End::Damaged ||
                                     back.ending == RecordingReader::End::CutShort;
            EXPECT_EQ(lost + (endsDamaged ? 1 : 0), 1u) << where;
            EXPECT_TRUE(back.ending == RecordingReader::End::Clean ||
                        (endsDamaged && damagedFrame == kFrames))
                << where;
        }
    }
}

TEST(DamagedRecording, DamageOfSeveralRecordsIsOneStretchWithItsFramesCounted) {
    TempDir dir;
    constexpr std::size_t kSize = 100, kStep = kRecord + kSize;
    struct Row {
        const char* what;
        std::size_t from, length;  // bytes set to zero
        std::vector<std::uint64_t> whole;
        std::uint64_t offset, rangeLength, framesLost;
    };
    const Row rows[] = {
        {"frames 3-5 zeroed", kHeader + 2 * kStep, 3 * kStep, {1, 2, 6, 7, 8}, kHeader + 2 * kStep, 3 * kStep, 3},
        {"from inside 2 to inside 4", kHeader + kStep + 40, 2 * kStep, {1, 5, 6, 7, 8}, kHeader + kStep, 3 * kStep, 3},
        {"first record's header", kHeader, kRecord, {2, 3, 4, 5, 6, 7, 8}, kHeader, kStep, 1},
        {"frame 6's header's first byte", kHeader + 5 * kStep, 1, {1, 2, 3, 4, 5, 7, 8}, kHeader + 5 * kStep, kStep, 1},
    };
    for (const Row& row : rows) {
        std::string bytes = Recording(8, kSize);
        std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(row.from), row.length, '\0');
        Put(dir.File("r.zrec"), bytes);
        const ReadBack back = Read(dir.File("r.zrec"));
        EXPECT_EQ(back.whole, row.whole) << row.what;
        ASSERT_EQ(back.damaged.size(), 1u) << row.what;
        EXPECT_EQ(back.damaged[0].offset, row.offset) << row.what;
        EXPECT_EQ(back.damaged[0].length, row.rangeLength) << row.what;
        EXPECT_EQ(back.damaged[0].framesLost, row.framesLost) << row.what;
        EXPECT_EQ(back.ending, RecordingReader::End::Clean) << row.what;
    }
}

// The file's header: its marker, version or size damaged, the records after it still read and
// the damage said; a file with neither a header nor a whole record is no recording.
TEST(DamagedRecording, AFileHeaderDamagedStillGivesItsRecords) {
    TempDir dir;
    const std::string whole = Recording(3, 40);
    struct Row {
        const char* what;
        std::size_t at;
        std::string bytes;
        bool damaged;
    };
    const Row rows[] = {
        {"marker", 0, "X", true},
        {"marker zeroed", 0, std::string(8, '\0'), true},
        {"version", offsetof(RecordingFileHeader, version), "\x07", true},
        {"size 0", offsetof(RecordingFileHeader, headerSize), std::string(4, '\0'), true},
        {"size 31", offsetof(RecordingFileHeader, headerSize), std::string("\x1F\0\0\0", 4), true},
        {"size past the file", offsetof(RecordingFileHeader, headerSize), std::string("\0\0\0\x40", 4), true},
        {"size the file's", offsetof(RecordingFileHeader, headerSize),
         std::string(1, static_cast<char>(whole.size() & 0xFF)) + static_cast<char>(whole.size() >> 8) + std::string(2, '\0'), true},
        {"size into the first record", offsetof(RecordingFileHeader, headerSize), std::string("\x30\0\0\0", 4), true},
        // A size that names the second record's start: the first is still read.
        {"size at the second record", offsetof(RecordingFileHeader, headerSize),
         std::string("\x68\0\0\0", 4), true},
        {"time it was made", offsetof(RecordingFileHeader, createdTicks), "\x11\x22", false},
    };
    for (const Row& row : rows) {
        std::string bytes = whole;
        bytes.replace(row.at, row.bytes.size(), row.bytes);
        Put(dir.File("r.zrec"), bytes);
        const ReadBack back = Read(dir.File("r.zrec"));
        EXPECT_EQ(back.whole, AllBut(3, 0)) << row.what;
        EXPECT_EQ(back.headerDamaged, row.damaged) << row.what;
        EXPECT_EQ(back.ending, RecordingReader::End::Clean) << row.what;
    }
    // Only a header, its size damaged: nothing to read, and it says so.
    std::string headerOnly = whole.substr(0, kHeader);
    headerOnly[offsetof(RecordingFileHeader, headerSize)] = 0x40;
    Put(dir.File("h.zrec"), headerOnly);
    EXPECT_TRUE(Read(dir.File("h.zrec")).headerDamaged);
    // The version byte and the first record's marker damaged: the records after are still read.
    std::string both = whole;
    both[offsetof(RecordingFileHeader, version)] = 2;
    both[kHeader] = 'x';
    Put(dir.File("vb.zrec"), both);
    const ReadBack vb = Read(dir.File("vb.zrec"));
    EXPECT_TRUE(vb.headerDamaged);
    EXPECT_EQ(vb.whole, (std::vector<std::uint64_t>{2, 3}));
    // A version this reader does not know, whose records are not this version's, is refused.
    std::string other = whole.substr(0, kHeader) + std::string(200, '\x33');
    other[offsetof(RecordingFileHeader, version)] = 2;
    Put(dir.File("v2.zrec"), other);
    EXPECT_THROW(RecordingReader(dir.File("v2.zrec")), System::FormatException);
    // No header and no whole record.
    Put(dir.File("text.zrec"), std::string(5000, 'R'));
    EXPECT_THROW(RecordingReader(dir.File("text.zrec")), System::FormatException);
}

// A damaged length that lands on a marker inside the next frame's pixels: the next frame is
// still read (a record failing its checksum is one frame only when a whole record follows).
TEST(DamagedRecording, ALengthLandingOnAMarkerInPixelsHidesNoFrame) {
    TempDir dir;
    constexpr std::size_t kSize = 200;
    std::string bytes = Recording(4, kSize);
    const std::size_t second = kHeader + (kRecord + kSize), third = second + kRecord + kSize;
    bytes.replace(third + kRecord + 40, 4, "RFRM");                          // frame 3's pixels
    const std::uint32_t length = kSize + kRecord + 40;                        // frame 2's length
    bytes.replace(second + 4, 4, std::string(reinterpret_cast<const char*>(&length), 4));
    // Frame 3 made whole again with the marker in its pixels.
    FrameRecordHeader h;
    std::memcpy(&h, bytes.data() + third, sizeof h);
    h.crc = FrameRecordChecksum(h, reinterpret_cast<const std::uint8_t*>(bytes.data() + third + kRecord), kSize);
    bytes.replace(third, sizeof h, std::string(reinterpret_cast<const char*>(&h), sizeof h));
    Put(dir.File("r.zrec"), bytes);
    const ReadBack back = Read(dir.File("r.zrec"));
    EXPECT_EQ(back.whole, (std::vector<std::uint64_t>{1, 3, 4}));
    EXPECT_EQ(back.failing, 0);
    ASSERT_EQ(back.damaged.size(), 1u);
    EXPECT_EQ(back.damaged[0].framesLost, 1u);
}

// Damage between consecutive frames (zeros inserted) held no frame: the numbers say so.
TEST(DamagedRecording, AStretchBetweenConsecutiveFramesLosesNone) {
    TempDir dir;
    std::string bytes = Recording(3, 64);
    bytes.insert(kHeader + (kRecord + 64), 10 * (kRecord + 64), '\0');
    Put(dir.File("r.zrec"), bytes);
    const ReadBack back = Read(dir.File("r.zrec"));
    EXPECT_EQ(back.whole, AllBut(3, 0));
    ASSERT_EQ(back.damaged.size(), 1u);
    EXPECT_EQ(back.damaged[0].framesLost, 0u);
    EXPECT_EQ(back.damaged[0].numberBefore, std::optional<std::uint64_t>(1));
    EXPECT_EQ(back.damaged[0].numberAfter, 2u);
}

// Offsets past 4 GiB (a sparse file: a header that says it is 4 GiB long, records after it).
TEST(DamagedRecording, RecordsPastFourGibibytesReadAndResynchronise) {
    TempDir dir;
    constexpr std::uint32_t kLongHeader = 0xFFFFFF00u;
    std::string header = Recording(0, 10);
    std::memcpy(header.data() + offsetof(RecordingFileHeader, headerSize), &kLongHeader, 4);
    std::string records;
    for (int n = 1; n <= 4; ++n) records += Record(static_cast<std::uint64_t>(n), TestImage(300, n));
    records[2 * (kRecord + 300)] = 'x';  // frame 3's marker, past 4 GiB
    {
        std::ofstream out(dir.File("big.zrec"), std::ios::binary);
        out << header;
        out.seekp(kLongHeader);
        out << records;
        if (!out) GTEST_SKIP() << "the file system takes no sparse file past 4 GiB";
    }
    const ReadBack back = Read(dir.File("big.zrec"));
    EXPECT_EQ(back.whole, (std::vector<std::uint64_t>{1, 2, 4}));
    ASSERT_EQ(back.damaged.size(), 1u);
    EXPECT_EQ(back.damaged[0].offset, std::uint64_t{kLongHeader} + 2 * (kRecord + 300));
    EXPECT_FALSE(back.headerDamaged);
}

// The scan alone, over bytes in memory, counting what it reads.
struct Memory {
    std::string bytes;
    std::uint64_t read = 0;
    bool failAfterHalf = false;
    ReadAtFunction Reader() {
        return [this](void* buffer, std::size_t n, std::uint64_t at) -> long long {
            if (failAfterHalf && at >= bytes.size() / 2) return -1;
            if (at >= bytes.size()) return 0;
            n = std::min<std::size_t>(n, bytes.size() - at);
            std::memcpy(buffer, bytes.data() + at, n);
            read += n;
            return static_cast<long long>(n);
        };
    }
    RecordScan Scan(std::uint64_t from) { return FindWholeRecord(Reader(), from, bytes.size()); }
};

std::string FalseMarkers(std::size_t count, std::uint32_t length) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        out += "RFRM";
        out.append(reinterpret_cast<const char*>(&length), 4);
    }
    return out;
}

TEST(RecordScan, FindsTheFirstWholeRecordPastFalseMarkersAndChunkEdges) {
    const std::string real = Record(9, TestImage(5000, 9));
    const std::string inner = Record(7, TestImage(10, 7));
    std::vector<std::uint8_t> outerImage(inner.begin(), inner.end());
    outerImage.resize(outerImage.size() + 20, 0x42);  // the outer one ends after the inner
    const std::string embedding = Record(5, outerImage);
    struct Row {
        const char* what;
        std::string bytes;
        std::uint64_t from;
        std::optional<std::uint64_t> found;
    };
    const std::size_t kChunkEdge = std::size_t{1} << 20;
    const Row rows[] = {
        {"at the start", real, 0, 0},
        {"after junk", std::string(77, 'x') + real, 0, 77},
        {"past false markers claiming its length", FalseMarkers(40, 5000) + real, 0, 320},
        {"a marker whose length runs past the file", FalseMarkers(1, 0x7FFFFFFF) + real, 0, 8},
        {"its marker across a chunk's edge", std::string(kChunkEdge - 2, 'x') + real, 0, kChunkEdge - 2},
        {"its header's end at a chunk's edge", std::string(kChunkEdge - kRecord, 'x') + real, 0, kChunkEdge - kRecord},
        {"an empty record", std::string(3, 'x') + Record(1, {}), 0, 3},
        {"a whole record inside another's image: the outer one first", embedding, 0, 0},
        {"from past the outer one's start: the inner one", embedding, 1, kRecord},
        {"none", FalseMarkers(100, 16) + std::string(50, 'R'), 0, std::nullopt},
        {"a checksum one bit off", [&] { std::string b = real; b[40] ^= 1; return b; }(), 0, std::nullopt},
    };
    for (const Row& row : rows) {
        Memory memory{row.bytes};
        const RecordScan scan = memory.Scan(row.from);
        EXPECT_EQ(scan.found, row.found) << row.what;
        EXPECT_FALSE(scan.readFailed) << row.what;
        // Linear: the file once, and the kept bytes of each chunk edge at most.
        EXPECT_LE(memory.read, row.bytes.size()) << row.what;
    }
}

TEST(RecordScan, ReadsOnceHoweverManyFalseMarkersWait) {
    // Every eight bytes a marker claiming 64 KiB: 16,000 candidates, all failing, then a record.
    Memory memory{FalseMarkers(16000, 65536) + std::string(70000, 'x') + Record(3, TestImage(100, 3))};
    const RecordScan scan = memory.Scan(0);
    EXPECT_EQ(scan.found, 16000u * 8 + 70000);
    EXPECT_EQ(memory.read, memory.bytes.size());
    EXPECT_EQ(scan.candidatesPassedOver, 0u);
}

// A false marker before the record, claiming a long image: the scan does not read on to its end.
TEST(RecordScan, AMarkerClaimingALongImageCostsNoMoreThanARecord) {
    const std::string real = Record(9, TestImage(5000, 9));
    Memory memory{FalseMarkers(1, 16u << 20) + real + std::string(20u << 20, 'x')};
    const RecordScan scan = memory.Scan(0);
    EXPECT_EQ(scan.found, 8u);
    EXPECT_LE(memory.read, 8 + 2 * real.size() + (std::size_t{1} << 20));
}

// The bound on a candidate's length is inclusive: a record exactly that long is found.
TEST(RecordScan, ARecordAsLongAsTheBoundIsFoundOneByteLongerIsPassedOver) {
    const std::string real = Record(9, TestImage(5000, 9));
    for (const auto& [longest, found] : {std::pair{5000u, true}, std::pair{4999u, false}}) {
        Memory memory{real};
        const RecordScan scan = FindWholeRecord(memory.Reader(), 0, memory.bytes.size(), longest);
        EXPECT_EQ(scan.found.has_value(), found) << longest;
        EXPECT_EQ(scan.candidatesPassedOver, found ? 0u : 1u) << longest;
    }
}

TEST(RecordScan, AFailingReadEndsTheScanAndSaysSo) {
    Memory memory{std::string(3 << 20, 'x') + Record(1, TestImage(10, 1)), 0, true};
    const RecordScan scan = memory.Scan(0);
    EXPECT_TRUE(scan.readFailed);
    EXPECT_FALSE(scan.found);
}

}  // namespace
