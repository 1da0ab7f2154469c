#include "host/recorder/record_scan.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "support/hash/crc32.h"

namespace Vorn::Zephra::Net::Devices::Recorder {
namespace {

constexpr std::size_t kChunk = std::size_t{1} << 20;
constexpr std::size_t kHeader = sizeof(FrameRecordHeader);
constexpr std::size_t kChecked = offsetof(FrameRecordHeader, crc);  // header bytes the CRC covers
constexpr unsigned char kMarker[4] = {kFrameRecordMagic & 0xFF, (kFrameRecordMagic >> 8) & 0xFF,
                                      (kFrameRecordMagic >> 16) & 0xFF, kFrameRecordMagic >> 24};

// A candidate waiting for the end of its image.
struct Pending {
    std::uint64_t end;      // offset after its image
    std::uint64_t start;    // offset of its header
    std::uint32_t carried;  // CRC of its checked header bytes, xor the running CRC at its image
    std::uint32_t crc;      // the checksum it claims
    std::uint32_t length;
};
bool LaterEnd(const Pending& a, const Pending& b) { return a.end > b.end; }

class Scanner {
  public:
    Scanner(const ReadAtFunction& read, std::uint64_t from, std::uint64_t size, std::uint64_t longest)
        : read_(read), from_(from), size_(size), longest_(longest),
          buffer_(kHeader + static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - from))) {}

    RecordScan Run() {
        cursor_ = from_;
        while (cursor_ < size_ && !Done()) {
            if (!ReadChunk()) {
                result_.readFailed = true;
                break;
            }
            WalkChunk();
        }
        result_.found = best_;
        return result_;
    }

  private:
    bool ReadChunk() {
        chunkStart_ = cursor_;
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size_ - cursor_));
        std::size_t got = 0;
        while (got < want) {
            const long long n = read_(buffer_.data() + kept_ + got, want - got, cursor_ + got);
            if (n <= 0) return false;
            got += static_cast<std::size_t>(n);
        }
        chunkEnd_ = cursor_ + got;
        base_ = chunkStart_ - kept_;
        search_ = 0;
        return true;
    }

    // Runs the CRC up to each event of the chunk in turn: a marker's header complete, a
    // candidate's image complete.
    void WalkChunk() {
        std::uint64_t marker = NextMarkerEvent();
        for (;;) {
            std::uint64_t next = std::min(chunkEnd_, marker);
            if (!pending_.empty()) next = std::min(next, pending_.front().end);
            running_ = crc_.Update(At(cursor_), static_cast<std::uint32_t>(next - cursor_));
            cursor_ = next;
            while (!pending_.empty() && pending_.front().end == cursor_) {
                std::pop_heap(pending_.begin(), pending_.end(), LaterEnd);
                const Pending done = pending_.back();
                pending_.pop_back();
                Evaluate(done);
            }
            if (Done()) return;
            if (marker == cursor_) {
                Register(cursor_ - kHeader);
                marker = NextMarkerEvent();
            }
            if (cursor_ == chunkEnd_ && marker > chunkEnd_) break;
        }
        // The last header's worth of bytes stays for a marker the next chunk completes.
        const std::size_t held = kept_ + static_cast<std::size_t>(chunkEnd_ - chunkStart_);
        kept_ = std::min(held, kHeader);
        std::memmove(buffer_.data(), buffer_.data() + held - kept_, kept_);
    }

    const unsigned char* At(std::uint64_t offset) const {
        return buffer_.data() + static_cast<std::size_t>(offset - base_);
    }

    // Where the header of the next marker in the buffer is complete: past the chunk's start (one
    // completed before was registered then) and within the chunk; past the chunk when none is.
    std::uint64_t NextMarkerEvent() {
        const std::size_t held = kept_ + static_cast<std::size_t>(chunkEnd_ - chunkStart_);
        while (search_ + sizeof kMarker <= held) {
            const unsigned char* first = buffer_.data() + search_;
            const unsigned char* last = buffer_.data() + held;
            const unsigned char* hit = std::search(first, last, std::begin(kMarker), std::end(kMarker));
            if (hit == last) break;
            const std::size_t index = static_cast<std::size_t>(hit - buffer_.data());
            search_ = index + 1;
            const std::uint64_t start = base_ + index;
            const std::uint64_t event = start + kHeader;
            if (start < from_ || event <= chunkStart_) continue;
            return event <= chunkEnd_ ? event : kNever;
        }
        search_ = held;
        return kNever;
    }

    void Register(std::uint64_t start) {
        if (best_) return;  // every later candidate starts after the one found
        FrameRecordHeader header;
        std::memcpy(&header, At(start), kHeader);
        if (header.length > kMaxFrameRecordLength || header.length > size_ - cursor_) return;
        if (header.length > longest_) {
            ++result_.candidatesPassedOver;
            return;
        }
        if (pending_.size() >= kMostPending) {
            ++result_.candidatesPassedOver;
            return;
        }
        VORN::CCrc32 headerCrc(VORN::CCrc32::kStandardPolynomial);
        const std::uint32_t checked = headerCrc.Update(At(start), static_cast<std::uint32_t>(kChecked));
        const Pending candidate{cursor_ + header.length, start, checked ^ running_, header.crc,
                                header.length};
        if (candidate.end == cursor_) {
            Evaluate(candidate);
            return;
        }
        pending_.push_back(candidate);
        std::push_heap(pending_.begin(), pending_.end(), LaterEnd);
    }

    void Evaluate(const Pending& candidate) {
        if (best_ && (candidate.start > *best_ || candidate.end > waitUntil_)) return;
        const auto combined = static_cast<std::uint32_t>(
            crc32_combine(candidate.carried, 0, static_cast<z_off_t>(candidate.length)));
        if ((combined ^ running_) != candidate.crc) return;
        best_ = candidate.start;
        // Candidates that start before it may still verify (a record whose image holds a whole
        // record): the scan waits for those ending within another record of its size, no
        // further, so a false marker claiming a long image costs no more than that.
        const std::uint64_t limit = cursor_ + (candidate.end - candidate.start);
        waitUntil_ = cursor_;
        for (const Pending& p : pending_)
            if (p.start < *best_ && p.end <= limit) waitUntil_ = std::max(waitUntil_, p.end);
    }

    bool Done() const { return best_ && cursor_ >= waitUntil_; }

    static constexpr std::uint64_t kNever = ~std::uint64_t{0};

    const ReadAtFunction& read_;
    const std::uint64_t from_;
    const std::uint64_t size_;
    const std::uint64_t longest_;
    std::vector<unsigned char> buffer_;  // the bytes kept from before, then the chunk
    std::size_t kept_ = 0;
    std::size_t search_ = 0;             // where the buffer's marker search goes on
    std::uint64_t base_ = 0;             // the offset of the buffer's first byte
    std::uint64_t chunkStart_ = 0, chunkEnd_ = 0;
    std::uint64_t cursor_ = 0;           // the running CRC covers [from_, cursor_)
    VORN::CCrc32 crc_{VORN::CCrc32::kStandardPolynomial};
    std::uint32_t running_ = 0;
    std::vector<Pending> pending_;       // a heap, the earliest end first
    std::optional<std::uint64_t> best_;
    std::uint64_t waitUntil_ = 0;
    RecordScan result_;
};

}  // namespace

RecordScan FindWholeRecord(const ReadAtFunction& read, std::uint64_t from, std::uint64_t size,
                           std::uint64_t longest) {
    if (from >= size) return {};
    return Scanner(read, from, size, longest).Run();
}

}  // namespace Vorn::Zephra::Net::Devices::Recorder
