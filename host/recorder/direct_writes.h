#pragma once
// Writing a recording around the page cache: whole blocks, aligned in memory and in the file,
// through a second way into the open file (O_DIRECT on Linux; unbuffered and written through on
// Windows). The queue's own copy of an image is then the only one made: the kernel copies
// nothing into its cache, and the disk takes the blocks straight from the queue's memory.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace Vorn::Zephra::Net::Devices::Recorder {

// The largest block the queue packs records into; its memory is aligned to it.
inline constexpr std::size_t kMaxDirectBlock = 64 * 1024;
// The smallest block a file is written in around the page cache, so a file a killed writer left
// padded is whole blocks of it.
inline constexpr std::size_t kMinDirectBlock = 512;

// How a recording's file is written once a queue takes it: around the page cache, by default in
// blocks of the file system's preferred size (at least what its direct writes must be aligned
// to). `block` (a power of two up to kMaxDirectBlock) asks for another size, no smaller than that
// alignment; `refuseDirect` makes the open refuse as a file system without direct writes does,
// `refuseDirectWrites` makes the open succeed and every direct write be refused as one that took
// the open and not the writes does (tests' seams).
struct RecordingWrites {
    bool direct = true;
    std::size_t block = 0;
    bool refuseDirect = false;
    bool refuseDirectWrites = false;
};

struct BlockPiece {
    const std::uint8_t* data = nullptr;
    std::size_t length = 0;
};

// The most pieces one write takes.
inline constexpr std::size_t kMostPieces = 4;

// Writes every piece, one after the other, from `at`, which follows the bytes as they land (so
// it tells how far a failed write got); the reason in `error` when one fails.
bool WritePiecesAt(int fd, std::span<const BlockPiece> pieces, std::uint64_t& at, std::string& error);
// The file's size becomes `size` (cut or grown with zeros).
bool SetFileSize(int fd, std::uint64_t size);

class DirectFile {
  public:
    // Direct writes to the file open at fd, or null with the file system's reason in `why`.
    // fd stays open while this lives: what a direct write cannot write goes through it.
    static std::unique_ptr<DirectFile> Open(int fd, const RecordingWrites& writes, std::string& why);
    ~DirectFile();
    DirectFile(const DirectFile&) = delete;
    DirectFile& operator=(const DirectFile&) = delete;

    // What every write's offset, length and memory is a multiple of.
    std::size_t Block() const { return block_; }
    // As WritePiecesAt; bytes from `dataEnd` on are padding. What the direct write leaves (a
    // file at its size limit, a disk full) goes through the page cache, its padding left out,
    // which writes what fits and says why the rest does not. A file system that took the open
    // and refuses the writes is written through the page cache from then on (traced once).
    bool WriteAt(std::span<const BlockPiece> pieces, std::uint64_t& at, std::uint64_t dataEnd,
                 std::string& error);

  private:
    DirectFile(std::intptr_t handle, int buffered, std::size_t block, bool refuseWrites)
        : handle_(handle), buffered_(buffered), block_(block), refuseWrites_(refuseWrites) {}
    bool WriteDirect(std::span<const BlockPiece> pieces, std::uint64_t& at, std::string& error);
    bool Refused(std::uint64_t end) const;
    std::intptr_t handle_;  // a descriptor on Linux, a HANDLE on Windows
    int buffered_;
    std::size_t block_;
    bool refuseWrites_;
    int failure_ = 0;       // the system's code for the last direct write's failure
    bool refused_ = false;  // its writes were refused: through the page cache now
};

// Memory aligned to kMaxDirectBlock, for the queue's records; made with new, so it is counted
// and refused as any other memory is. Left uninitialised.
class AlignedBytes {
  public:
    AlignedBytes() = default;
    explicit AlignedBytes(std::size_t size);  // throws std::bad_alloc
    std::uint8_t* get() const { return aligned_; }
    explicit operator bool() const { return aligned_ != nullptr; }
    void reset() {
        aligned_ = nullptr;
        memory_.reset();
    }

  private:
    std::unique_ptr<std::uint8_t[]> memory_;
    std::uint8_t* aligned_ = nullptr;
};

}  // namespace Vorn::Zephra::Net::Devices::Recorder
