#pragma once
// Finding the next whole frame record after damage. Every record starts with its marker and ends
// with the bytes its checksum covers, so after a damaged stretch the reader goes on at the first
// place where a record's framing holds and its checksum verifies. A marker inside pixels or a
// length field that damage changed is no more than a candidate that fails.
//
// The scan reads the file once, front to back: each candidate's checksum is found from the
// running checksum of the bytes at its image's start and end (a CRC of a stretch is the CRC
// up to its end less the CRC up to its start carried over its length), so candidates cost no
// second read however many the bytes hold or however long they claim to be. Candidates waiting
// for their end are bounded (kMostPending); a file holding more markers than that within one
// record's length has the later ones passed over, and the scan says how many. Once a record
// verifies, the scan reads on only as far as one more record of its size, for an earlier
// candidate that may still verify (the first whole record is the one that starts first), so each
// stretch of damage costs its own bytes and two records' more, whatever lengths markers claim.
#include <cstdint>
#include <functional>
#include <optional>

#include "host/recorder/recording_format.h"

namespace Vorn::Zephra::Net::Devices::Recorder {

// Reads up to n bytes at an offset: the count read, 0 at the end of the file, -1 on an error.
using ReadAtFunction = std::function<long long(void* buffer, std::size_t n, std::uint64_t offset)>;

struct RecordScan {
    std::optional<std::uint64_t> found;  // where the first whole record starts, if any
    std::uint64_t candidatesPassedOver = 0;  // markers not tried (more than kMostPending waiting)
    bool readFailed = false;                 // the file could not be read to its end
};

inline constexpr std::size_t kMostPending = std::size_t{1} << 20;

// The first offset at or after `from` where a record's framing holds (its marker, a length of at
// most kMaxFrameRecordLength that fits in `size`) and its checksum verifies.
// Candidates claiming an image longer than `longest` are passed over (counted).
RecordScan FindWholeRecord(const ReadAtFunction& read, std::uint64_t from, std::uint64_t size,
                           std::uint64_t longest = kMaxFrameRecordLength);

}  // namespace Vorn::Zephra::Net::Devices::Recorder
