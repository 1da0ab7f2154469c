#pragma once
// Where a recording's images go, one record at a time: the recording file, or something a test
// puts in front of it to hold or fail writes.
#include <cstdint>
#include <string>

#include "host/recorder/recording_format.h"

namespace Vorn::Zephra::Net::Devices::Recorder {

class ImageSink {
  public:
    virtual ~ImageSink() = default;
    // A record (its checksum made) and its record.length image bytes. False when the image is
    // not in the sink, and no later one will be.
    virtual bool Append(const FrameRecordHeader& record, const std::uint8_t* image) = 0;
    virtual const std::string& Error() const = 0;  // why an append failed
};

}  // namespace Vorn::Zephra::Net::Devices::Recorder
