#pragma once
// Writing and reading recording files (see recording_format.h).
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/recorder/image_sink.h"
#include "host/recorder/recording_format.h"

namespace Vorn::Zephra::Net::Devices::Recorder {

// Appends frame records to a new recording. A failed append (a full disk, say) cuts the file
// back to its last complete record and refuses further appends, so the file always reads back.
// Its own appends go through the page cache; once a queue starts writing it (ImageSink), the
// queue's blocks go around it where the file system allows (direct_writes.h), and the file
// takes no appends of its own.
//
// A recording is made exclusively and replaces nothing until it holds a frame: it is written
// under a temporary name beside the path, locked while it is written, and renamed over the
// path at its first frame, unless another writer holds the path by then or made a recording
// there since this one began (that append fails and says so): only the file that was at the
// path when the recording began is replaced. A recording that ends without a frame leaves nothing behind, and the file it
// was to replace stays as it was. Only a regular file is ever replaced.
class RecordingWriter final : public ImageSink {
  public:
    // Throws System::IOException when the recording cannot be made: something other than a
    // regular file (a folder, a device, a symbolic link) is at path, another writer is
    // recording to it, or the temporary file cannot be created.
    RecordingWriter(const std::string& path, std::int64_t createdTicks, std::uint32_t imageSize);
    // A new recording "recording_NNNN.zrec" in the folder, the first number from `next` whose
    // name is free, taken exclusively (two writers never share one); `next` is left after it.
    // A name whose file holds only the header a killed run left is free again.
    static std::unique_ptr<RecordingWriter> Numbered(const std::string& folder, int& next,
                                                     std::int64_t createdTicks,
                                                     std::uint32_t imageSize);
    ~RecordingWriter() override;
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    bool Append(std::uint64_t frameNumber, std::int64_t ticks, const std::uint8_t* image,
                std::uint32_t length);
    bool Append(const FrameRecordHeader& record, const std::uint8_t* image);

    // How a queue writes the file once it starts (by default around the page cache).
    void UseWrites(const RecordingWrites& writes) { writes_ = writes; }
    SinkStart Start(std::uint8_t* tail) override;
    bool Write(const BlockWrite& write, std::uint64_t& reached) override;
    std::uint64_t KeepOnly(std::uint64_t end, std::uint64_t records) override;
    bool Finish(std::uint64_t end) override;
    bool Failed() const { return failed_; }
    const std::string& Error() const override { return error_; }  // why the failed append failed
    const std::string& Path() const { return path_; }
    std::uint64_t FramesWritten() const { return frames_; }
    std::uint64_t BytesWritten() const { return bytes_; }

    // Whether another writer is recording to path now.
    static bool InUse(const std::string& path);

  private:
    struct InPlace {};
    RecordingWriter(InPlace, std::string path, int fd, std::int64_t createdTicks,
                    std::uint32_t imageSize);
    void WriteHeader(std::int64_t createdTicks, std::uint32_t imageSize);
    bool WriteAll(const void* data, std::size_t size);
    bool Publish();
    void Abandon();
    bool TakesPath();

    // Which file is at a path, whatever its name: the file system's and the file's own numbers.
    struct FileId {
        std::uint64_t volume = 0;
        std::uint64_t file = 0;
        bool operator==(const FileId&) const = default;
    };
    static std::optional<FileId> IdOf(int fd);

    std::string path_;
    std::string temporary_;  // empty once renamed over path_, or when written in place
    std::optional<FileId> replaces_;  // what was at path_ when the recording began
    int fd_ = -1;
    bool failed_ = false;
    std::string error_;
    std::uint64_t frames_ = 0;
    std::uint64_t bytes_ = 0;  // where its records end
    RecordingWrites writes_;
    bool started_ = false;                 // a queue writes it
    std::uint64_t framesBeforeStart_ = 0;  // its own appends
    std::unique_ptr<DirectFile> direct_;
};

struct RecordedFrame {
    std::uint64_t frameNumber = 0;
    std::int64_t ticks = 0;
    bool checksumOk = false;
    std::uint64_t fileOffset = 0;
    std::vector<std::uint8_t> image;
};

// A stretch of a recording that holds no whole record: damage, read past to the next record
// whose framing holds and whose checksum verifies.
struct DamagedRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::uint64_t framesLost = 0;  // the records of its neighbours' size it spans, rounded,
                                   // and no more than the frame numbers around it leave out
    std::optional<std::uint64_t> numberBefore;  // of the last whole frame before it, if any
    std::uint64_t numberAfter = 0;              // of the whole frame after it
};

// Reads a recording frame by frame. A damaged byte costs at most the frame it is in: a record
// whose framing holds (its marker, a length that fits, and the next record's marker or the end
// of the file after it) is returned, with checksumOk false when its checksum fails; past any
// other damage the reader goes on at the next whole record (record_scan.h) and lists the
// stretch it passed over. Reading ends at the end of the file, or where no whole record
// follows: a record cut short (zeros to the end, the padding a recording killed while it was
// written leaves, count as its missing bytes), or damage to the end.
//
// The file's header is damaged when its marker or its size field is wrong: the records after
// it are still read when a whole one is found, and HeaderDamaged says so; a file with neither a
// recording's header nor a whole record is no recording.
class RecordingReader {
  public:
    // Throws System::IOException when the file cannot be opened or is not a regular file, and
    // System::FormatException when it is not a recording or one of a version it does not know.
    explicit RecordingReader(const std::string& path);
    ~RecordingReader();
    RecordingReader(const RecordingReader&) = delete;
    RecordingReader& operator=(const RecordingReader&) = delete;

    const RecordingFileHeader& Header() const { return header_; }
    bool HeaderDamaged() const { return headerDamaged_; }
    std::uint64_t FirstRecord() const { return first_; }  // where records begin
    bool Next(RecordedFrame& frame);  // false when no further complete record follows
    // Passes over the next record without reading its image (so without checking it) where its
    // framing holds; counting a recording's frames costs a small read per frame. False as Next
    // would be.
    bool Skip();
    // Back to the first record, as if just opened.
    void Rewind();

    // The stretches passed over so far, in the order of the file.
    const std::vector<DamagedRange>& DamagedRanges() const { return damaged_; }
    // Markers the scans past damage could not try (record_scan.h).
    std::uint64_t CandidatesPassedOver() const { return passedOver_; }

    // Why reading ended; meaningful once Next returned false.
    enum class End { None, Clean, CutShort, Damaged };
    End Ending() const { return ending_; }
    std::uint64_t TrailingBytes() const { return trailing_; }  // bytes after the last record

  private:
    enum class Framing { Whole, Broken, CutShort };
    Framing ReadRecordHeader(FrameRecordHeader& record);
    bool AtCleanEnd();
    bool FollowedByRecord(std::uint64_t next) const;
    bool WholeRecordAt(std::uint64_t offset);
    bool WholeRecordWithin(std::uint64_t from, std::uint64_t before);
    bool GoOnAfterDamage(Framing why);
    std::uint64_t ZeroTail() const;
    bool EndsInPadding() const;
    bool ReadHeaderOrFindRecords(const std::string& path);
    long long ReadAt(void* buffer, std::size_t n, std::uint64_t offset) const;

    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::uint64_t first_ = 0;   // where the first record starts
    std::uint64_t offset_ = 0;  // where the next record starts
    RecordingFileHeader header_{};
    bool headerDamaged_ = false;
    std::uint32_t lastLength_ = 0;  // the last whole record's image size, for counting losses
    std::optional<std::uint64_t> lastNumber_;  // and its frame number
    std::vector<DamagedRange> damaged_;
    std::uint64_t passedOver_ = 0;
    End ending_ = End::None;
    std::uint64_t trailing_ = 0;
    mutable std::optional<std::uint64_t> zeroTail_;
};

std::uint32_t FrameRecordChecksum(const FrameRecordHeader& header, const std::uint8_t* image,
                                  std::uint32_t length);
// A record's header for an image, its checksum not yet made.
FrameRecordHeader FrameRecordFor(std::uint64_t frameNumber, std::int64_t ticks, std::uint32_t length);

}  // namespace Vorn::Zephra::Net::Devices::Recorder
