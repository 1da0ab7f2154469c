#pragma once
// Where a recording's queue writes: the recording file, or something a test puts in front of it
// to hold or fail writes. The queue packs records one after the other into blocks and writes
// whole blocks at block-aligned offsets; the last block of a write may hold fewer record bytes
// than its length (the rest zeros), and is written again, fuller, by a later write.
#include <cstdint>
#include <span>
#include <string>

#include "host/recorder/direct_writes.h"

namespace Vorn::Zephra::Net::Devices::Recorder {

// One write of the queue's: its pieces go one after the other from `offset`. Bytes from
// `dataEnd` on are padding, zeros that make the last block whole: a write that lands every byte
// before it did its work, wherever the padding went. Once written, the file holds its records up
// to `recordsEnd`, and `records` records in all since Start.
struct BlockWrite {
    std::span<const BlockPiece> pieces;
    std::uint64_t offset = 0;
    std::uint64_t dataEnd = 0;
    std::uint64_t recordsEnd = 0;
    std::uint64_t records = 0;
};

struct SinkStart {
    std::uint64_t end = 0;   // where the first record goes: the bytes the file holds already
    std::size_t block = 1;   // what writes are aligned to (1: any offset and length)
    std::string fallback;    // why direct writes were asked for and not taken, else empty
};

class ImageSink {
  public:
    virtual ~ImageSink() = default;
    // Once, before the first write: how the queue writes, and the bytes of the partial block
    // before `end` ([end rounded down to the block, end)) copied to `tail`, which has room for
    // kMaxDirectBlock bytes. The file is the queue's from now on.
    virtual SinkStart Start(std::uint8_t* tail) = 0;
    // False when the write failed, with `reached` where its bytes stopped landing; KeepOnly
    // follows.
    virtual bool Write(const BlockWrite& write, std::uint64_t& reached) = 0;
    // After a failed write: the file keeps its first `records` records since Start, which end
    // at `end` (the rest goes), and takes no further write. Returns the records kept (none when
    // the file could not take its path).
    virtual std::uint64_t KeepOnly(std::uint64_t end, std::uint64_t records) = 0;
    // The recording is complete: the file's size becomes `end` (the padding of its last block
    // goes).
    virtual bool Finish(std::uint64_t end) = 0;
    virtual const std::string& Error() const = 0;  // why a write failed
};

}  // namespace Vorn::Zephra::Net::Devices::Recorder
