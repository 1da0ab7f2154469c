#pragma once
// The image source stream: receives each raw sample from the capture graph, hands it to the
// device through a parameterless callback, and, from inside that callback, sizes and decodes
// it into the device's buffer and stamps it. It owns no image memory.
//
// Configuration comes from the device and the graph while the graph is stopped; only the frame
// rate may change while samples flow. The sample is visible only to the thread delivering it.
#include <array>
#include <atomic>
#include <cstdint>
#include <thread>

#include "imaging/frame_clock.h"
#include "imaging/image_types.h"
#include "imaging/zrf_records.h"
#include "platform/com/guid.h"

using NewImageCallback = void (*)();

struct FieldGeometry;
struct UsbRegionLayout;
struct UsbPixelPlan;

class ImgSrcStream {
  public:
    ImgSrcStream() = default;
    virtual ~ImgSrcStream();
    ImgSrcStream(const ImgSrcStream&) = delete;
    ImgSrcStream& operator=(const ImgSrcStream&) = delete;

    virtual void SetImageSize(ImageSize size);
    virtual void OnNewSample(const std::uint8_t* buffer, std::int32_t length, ImageSize size);
    virtual std::int32_t GetImageBufferSize();
    virtual void SetSourceKind(SourceKind kind);
    virtual void SetSubtype(const GUID& subtype);
    virtual SourceKind GetSourceKind();
    virtual void SetFrameRate(float framesPerSecond);
    virtual void SetFieldCount(std::int32_t count);
    virtual void SetHostTimeStamps(bool enabled);

    // The graph starts a run: the next stamped frame starts the clock on a fresh base (its
    // stamps still continue after those already published).
    void RestartClock();
    // Stamps continue after `milliseconds` (since 1970, on the stamps' own scale): the last
    // stamp of the device's previous connection.
    void ContinueStampsAfter(std::int64_t milliseconds);
    std::int64_t LastStampMilliseconds() const;

    void SetNewImageCallback(NewImageCallback callback);
    // Only from inside the new-image callback. Writes at most GetImageBufferSize() bytes.
    DecodeResult DecodeImage(std::int32_t fieldIndex, std::uint8_t* out);

    // The stamp of the last decoded image, of every kind.
    std::int16_t TimeZoneMinutes() const { return timeZoneMinutes; }
    std::uint32_t TimeSeconds() const { return timeSeconds; }
    std::uint32_t TimeMilliseconds() const { return timeMilliseconds; }

    std::int32_t FieldCount() const { return fieldCount; }
    float FrameRate() const { return frameRate.load(std::memory_order_relaxed); }
    bool IsClockStarted() const { return clock.IsStarted(); }
    double ClockFrameRate() const { return clock.FrameRate(); }

  private:
    enum class Path { Visual, Mjpg, Ieee1394, Usb };

    Path SelectPath() const;
    const std::uint8_t* CurrentSample() const;
    FieldGeometry Geometry() const;
    ImageSize CurrentImageSize() const;
    bool IsJpegLs() const;

    std::int32_t UsbRadiometricSize(const std::uint8_t* data);
    std::int32_t Ieee1394Size(const std::uint8_t* data) const;

    DecodeResult DecodeVisualFrame(const std::uint8_t* data, std::uint8_t* out);
    DecodeResult DecodeMjpgFrame(const std::uint8_t* data, std::uint8_t* out);
    DecodeResult DecodeIeee1394Frame(const std::uint8_t* data, std::int32_t fieldIndex,
                                     std::uint8_t* out);
    DecodeResult DecodeUsbFrame(const std::uint8_t* data, std::int32_t fieldIndex,
                                std::uint8_t* out);
    bool PlanUsbPixels(const std::uint8_t* data, const UsbRegionLayout& layout,
                       std::int32_t fieldIndex, UsbPixelPlan& plan) const;
    bool WriteUsbPixels(const std::uint8_t* data, const UsbRegionLayout& layout,
                        const UsbPixelPlan& plan, std::int32_t fieldIndex, std::uint8_t* pixels);
    // The checks, stamp and updates every radiometric frame-information block goes through.
    DecodeResult ApplyFrameInfo(std::uint8_t* block, std::int32_t fieldIndex,
                                std::int32_t fieldHeight);
    // The host's stamp of the sample being delivered: taken once, shared by all its fields.
    FrameStamp SampleStamp();
    // The stamp of one field of the sample being delivered, kept as the last decoded image's.
    FrameStamp StampField(std::int32_t fieldIndex);
    // The IEEE-1394 sample's frame-information block in host order: converted once, copied to
    // each of its fields.
    const std::uint8_t* SampleFrameInfo(const std::uint8_t* cameraBlock);

    std::int16_t timeZoneMinutes = 0;
    std::uint32_t timeSeconds = 0;
    std::uint32_t timeMilliseconds = 0;
    bool hostTimeStamps = true;
    NewImageCallback newImageCallback = nullptr;
    const std::uint8_t* sample = nullptr;
    bool sampleStamped = false;  // the delivering thread's, as the sample is
    FrameStamp sampleStamp;
    bool sampleInfoConverted = false;  // the delivering thread's, as the sample is
    std::array<std::uint8_t, Zrf::kFrameInfoSize> sampleInfo{};
    std::atomic<std::int32_t> sampleLength{0};
    std::atomic<std::uint64_t> imageSize{0};  // width and height packed: one atomic word
    SourceKind sourceKind{};
    GUID subtype{};
    std::int32_t cachedBufferSize = 0;
    std::atomic<float> frameRate{0.0f};
    std::int32_t fieldCount = 1;
    FrameClock clock;

    // What cachedBufferSize was computed from; any difference recomputes it.
    struct SizeKey {
        GUID subtype{};
        ImageSize size{};
        std::int32_t fieldCount = 0;
        std::int64_t regionOffset = -1;
        std::int32_t layoutSize = 0;
        bool operator==(const SizeKey& o) const {
            return subtype == o.subtype && size == o.size && fieldCount == o.fieldCount &&
                   regionOffset == o.regionOffset && layoutSize == o.layoutSize;
        }
    };
    SizeKey cachedSizeKey;
    std::atomic<std::thread::id> deliveringThread{};
};
