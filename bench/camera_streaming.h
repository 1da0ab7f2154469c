#pragma once
// Simulated cameras streaming real camera samples into an image stream whose callback decodes
// each one as the device does: the cameras of the capture-path benchmark.
#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "imaging/image_types.h"
#include "imaging/img_src_stream.h"
#include "imaging/media_subtypes.h"
#include "sim/samples/camera_samples.h"
#include "sim/samples/thermal_scene.h"
#include "sim/video/sample_source.h"
#include "sim/video/video_presets.h"

namespace CaptureBench {

enum class SampleKind { UsbRaw, UsbJpegLs, Ieee1394, Yuy2, Mjpg };

// Keeps every thread the run makes from now on to one processor: a thread moved to another
// finds its caches cold, which is noise from run to run rather than the path's cost.
inline void StayOnOneProcessor() {
#ifdef __linux__
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
    for (int cpu = CPU_SETSIZE - 1; cpu >= 0; --cpu) {
        if (!CPU_ISSET(cpu, &allowed)) continue;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        sched_setaffinity(0, sizeof one, &one);
        return;
    }
#endif
}

// Frame content: samples built by the sample builders from a thermal scene. A few distinct
// frames are built up front, so filling a sample on the streaming thread is one copy; a source
// of one frame copies it once into each of the device's buffers.
class CameraSampleSource final : public zrf::sim::SampleSource {
  public:
    // `fields`: the windowing fields each sample carries (IEEE-1394).
    CameraSampleSource(SampleKind kind, ImageSize picture, int frames = 4, int fields = 1) {
        zrf::sim::ThermalScene scene(picture, 7);
        std::vector<std::uint16_t> pixels(static_cast<std::size_t>(picture.width) * picture.height);
        zrf::sim::SampleSettings settings;
        settings.size = picture;
        settings.fieldCount = fields;
        for (int frame = 0; frame < frames; ++frame) {
            scene.Render(static_cast<std::uint64_t>(frame), pixels.data());
            settings.milliseconds = static_cast<std::uint32_t>(frame * 33 % 1000);
            std::vector<std::uint8_t> sample;
            switch (kind) {
                case SampleKind::UsbRaw:
                    zrf::sim::BuildUsbRawSample(pixels.data(), settings, sample);
                    break;
                case SampleKind::UsbJpegLs:
                    zrf::sim::BuildUsbJpegLsSample(pixels.data(), settings, sample);
                    break;
                case SampleKind::Ieee1394:
                    zrf::sim::BuildIeee1394Sample(pixels.data(), settings, sample);
                    break;
                case SampleKind::Yuy2:
                    zrf::sim::BuildYuy2Sample(pixels.data(), settings, sample);
                    break;
                case SampleKind::Mjpg:
                    zrf::sim::BuildMjpgSample(pixels.data(), settings, sample);
                    break;
            }
            capacity_ = std::max(capacity_, sample.size());
            samples_.push_back(std::move(sample));
        }
        filled_.reserve(32);
    }

    const std::vector<std::vector<std::uint8_t>>& Samples() const { return samples_; }

    std::size_t Capacity(const AM_MEDIA_TYPE&) const override { return capacity_; }

    std::size_t Fill(const AM_MEDIA_TYPE&, std::uint64_t frame, BYTE* buffer,
                     std::size_t capacity) override {
        const std::size_t index = static_cast<std::size_t>(frame % samples_.size());
        const auto& sample = samples_[index];
        const std::size_t length = std::min(sample.size(), capacity);
        // The device reuses its few buffers in turn: what one already holds is not written again.
        auto held = std::find_if(filled_.begin(), filled_.end(),
                                 [buffer](const auto& f) { return f.first == buffer; });
        if (held == filled_.end() || held->second != index) {
            std::memcpy(buffer, sample.data(), length);
            if (held != filled_.end())
                held->second = index;
            else if (filled_.size() < filled_.capacity())  // never allocates while streaming
                filled_.emplace_back(buffer, index);
        }
        return length;
    }

  private:
    std::vector<std::vector<std::uint8_t>> samples_;
    std::size_t capacity_ = 0;
    // Each buffer the device handed over and the sample it holds.
    std::vector<std::pair<const BYTE*, std::size_t>> filled_;
};

// A camera as the graph and the stream see it.
struct StreamingCamera {
    const char* name;
    zrf::sim::VideoDeviceSettings (*preset)();
    GUID subtype;
    bool radiometricUsb;
    SourceKind kind;
    SampleKind samples;
    ImageSize picture;
};

inline const StreamingCamera kStreamingCameras[] = {
    {"UsbRaw",
     zrf::sim::UsbIrPreset,
     kSubtypeF7M0,
     true,
     SourceKind::Usb,
     SampleKind::UsbRaw,
     {640, 480}},
    {"UsbJpegLs",
     zrf::sim::UsbIrJlsPreset,
     kSubtypeMJLS,
     true,
     SourceKind::Usb,
     SampleKind::UsbJpegLs,
     {320, 240}},
    {"Ieee1394",
     zrf::sim::FwIrPreset,
     kSubtypeF7M2,
     false,
     SourceKind::Ieee1394,
     SampleKind::Ieee1394,
     {640, 480}},
    {"Yuy2",
     zrf::sim::WebcamPreset,
     kSubtypeYUY2,
     false,
     SourceKind::Usb,
     SampleKind::Yuy2,
     {640, 480}},
    {"Mjpg",
     zrf::sim::WebcamPreset,
     kSubtypeMJPG,
     false,
     SourceKind::Usb,
     SampleKind::Mjpg,
     {640, 480}},
};

// Decodes field 0 of every sample inside the stream's callback, as the device does, and counts
// the outcomes. The callback takes no arguments: it finds the one decoder here.
class CallbackDecoder {
  public:
    explicit CallbackDecoder(ImgSrcStream& stream) : stream_(stream) {
        current_ = this;
        stream.SetNewImageCallback(&Decode);
    }
    ~CallbackDecoder() {
        stream_.SetNewImageCallback(nullptr);
        current_ = nullptr;
    }
    CallbackDecoder(const CallbackDecoder&) = delete;
    CallbackDecoder& operator=(const CallbackDecoder&) = delete;

    // Waits until `count` samples decoded; the bound only keeps a broken build from hanging.
    bool WaitForOk(long count) {
        std::unique_lock lock(mutex_);
        target_ = count;
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return ok_ >= count; });
    }
    // Samples decoded while marked stopped count as arriving after a stop.
    void MarkStopped(bool stopped) {
        std::lock_guard lock(mutex_);
        stopped_ = stopped;
    }
    long Ok() const { return Read(ok_); }
    // The CPU clock of the thread that decoded last: the streaming thread while a graph runs.
    clockid_t DecodingThreadClock() const {
        std::lock_guard lock(mutex_);
        return clock_;
    }
    long Failed() const { return Read(failed_); }
    long AfterStop() const { return Read(afterStop_); }

  private:
    static void Decode() {
        CallbackDecoder& d = *current_;
        const std::int32_t size = d.stream_.GetImageBufferSize();
        const bool ok = size > 0 && static_cast<std::size_t>(size) <= d.out_.size() &&
                        d.stream_.DecodeImage(0, d.out_.data()) == DecodeResult::Ok;
        std::lock_guard lock(d.mutex_);
        if (!pthread_equal(d.thread_, pthread_self())) {
            d.thread_ = pthread_self();
            pthread_getcpuclockid(d.thread_, &d.clock_);
        }
        (ok ? d.ok_ : d.failed_) += 1;
        if (d.stopped_) ++d.afterStop_;
        // Only a waiter that can go on is woken: a benchmark measures this path.
        if (d.ok_ >= d.target_) d.changed_.notify_all();
    }
    long Read(const long& counter) const {
        std::lock_guard lock(mutex_);
        return counter;
    }

    static inline CallbackDecoder* current_ = nullptr;
    ImgSrcStream& stream_;
    std::vector<std::uint8_t> out_ = std::vector<std::uint8_t>(8 << 20);
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    long ok_ = 0;
    long failed_ = 0;
    long afterStop_ = 0;
    long target_ = 0;
    bool stopped_ = false;
    pthread_t thread_{};
    clockid_t clock_ = CLOCK_THREAD_CPUTIME_ID;
};

}  // namespace CaptureBench
