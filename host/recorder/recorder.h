#pragma once
// The framework's recorder: takes every image the device delivers, keeps a pre-recording ring
// and writes recordings to disk. The recorder object is its own lock (SyncRoot): the device
// holds it around the image-size update and each AddImage.
#include <cstdint>
#include <mutex>
#include <span>

#include "host/events/event.h"
#include "host/xml/x_element.h"

namespace Vorn::Zephra::Net::Devices::Recorder {

using System::Xml::Linq::XElement;

enum class RECORDING_STATE : int { STOPPED = 0, PAUSED = 1, RECORDING = 2 };

struct RecorderStatusEventArgs {
    RECORDING_STATE State;
};

class Recorder {
  public:
    virtual ~Recorder();

    Event<RecorderStatusEventArgs> RecorderStatusChanged;
    std::recursive_mutex& SyncRoot() { return syncRoot_; }

    virtual void SetUsePreRecordingBuffer(bool use) = 0;
    virtual void SetIsPreRecordingEnabled(bool enabled) = 0;
    virtual void SetSizeImageBufferPreRecording(std::int32_t images) = 0;
    virtual void SetFrameCounter(std::uint64_t value) = 0;
    virtual void SetImageSize(std::int32_t bytes) = 0;
    virtual std::int32_t GetImageSize() = 0;
    virtual bool Setup(XElement settings) = 0;
    virtual void Start(std::uint64_t value) = 0;
    virtual void Stop(std::uint64_t value) = 0;
    virtual void Pause(std::uint64_t value) = 0;
    virtual bool IsRecording() = 0;
    // Takes the image at offset in buffer (GetImageSize bytes); returns the frame counter
    // after counting it.
    virtual std::uint64_t AddImage(std::span<const std::uint8_t> buffer, std::int32_t offset,
                                   std::int64_t ticks) = 0;
    virtual XElement Settings() = 0;
    virtual void Dispose() = 0;

  private:
    std::recursive_mutex syncRoot_;
};

}  // namespace Vorn::Zephra::Net::Devices::Recorder
