#pragma once
// Where a recording's images go, one record at a time: the recording file, or something a test
// puts in front of it to hold or fail writes.
#include <cstdint>
#include <string>

namespace Vorn::Zephra::Net::Devices::Recorder {

class ImageSink {
  public:
    virtual ~ImageSink() = default;
    // False when the image is not in the sink, and no later one will be.
    virtual bool Append(std::uint64_t frameNumber, std::int64_t ticks, const std::uint8_t* image,
                        std::uint32_t length) = 0;
    virtual const std::string& Error() const = 0;  // why an append failed
};

}  // namespace Vorn::Zephra::Net::Devices::Recorder
