#pragma once
// Simulated cameras streaming real camera samples into an image stream whose callback decodes
// each one as the device does: the cameras of the capture-path benchmark.
#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <atomic>
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
        last_.store(buffer, std::memory_order_release);
        return length;
    }
    // The device's buffer filled last: while the streaming thread waits in the callback, it
    // holds the sample being decoded, unchanged.
    const BYTE* LastFilled() const { return last_.load(std::memory_order_acquire); }

  private:
    std::atomic<const BYTE*> last_{nullptr};
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
// the outcomes. The callback takes no arguments: it finds the one decoder here. Samples the
// graph streams (on any thread but the one that made the decoder) pass a gate: the streaming
// thread waits in the callback once it has decoded what it was allowed, so the benchmark's own
// thread can measure decoding alone on the same processor meanwhile.
class CallbackDecoder {
  public:
    explicit CallbackDecoder(ImgSrcStream& stream) : stream_(stream), owner_(pthread_self()) {
        current_ = this;
        stream.SetNewImageCallback(&Decode);
    }
    ~CallbackDecoder() {
        Open();
        stream_.SetNewImageCallback(nullptr);
        current_ = nullptr;
    }
    CallbackDecoder(const CallbackDecoder&) = delete;
    CallbackDecoder& operator=(const CallbackDecoder&) = delete;

    // Lets the streaming thread decode `frames` more samples and waits until it has (or the
    // bound passes: it only keeps a broken build from hanging). The streaming thread then waits
    // in the callback until the next call.
    bool Stream(long frames) {
        std::unique_lock lock(mutex_);
        allowed_ = streamed_ + frames;
        changed_.notify_all();
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return streamed_ >= allowed_; });
    }
    // No gate any more: before the graph stops.
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    // The CPU clock of the streaming thread (known once it decoded a sample).
    clockid_t StreamingThreadClock() const {
        std::lock_guard lock(mutex_);
        return clock_;
    }
    long Failed() const {
        std::lock_guard lock(mutex_);
        return failed_;
    }

  private:
    static void Decode() {
        CallbackDecoder& d = *current_;
        const std::int32_t size = d.stream_.GetImageBufferSize();
        const bool ok = size > 0 && static_cast<std::size_t>(size) <= d.out_.size() &&
                        d.stream_.DecodeImage(0, d.out_.data()) == DecodeResult::Ok;
        std::unique_lock lock(d.mutex_);
        if (!ok) ++d.failed_;
        if (pthread_equal(d.owner_, pthread_self())) return;
        if (!pthread_equal(d.streaming_, pthread_self())) {
            d.streaming_ = pthread_self();
            pthread_getcpuclockid(d.streaming_, &d.clock_);
        }
        if (++d.streamed_ == d.allowed_) d.changed_.notify_all();
        d.changed_.wait(lock, [&] { return d.open_ || d.streamed_ < d.allowed_; });
    }

    static inline CallbackDecoder* current_ = nullptr;
    ImgSrcStream& stream_;
    const pthread_t owner_;
    std::vector<std::uint8_t> out_ = std::vector<std::uint8_t>(8 << 20);
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    long failed_ = 0;
    long streamed_ = 0;  // samples the streaming thread decoded
    long allowed_ = 0;   // it waits once it got this far
    bool open_ = false;
    pthread_t streaming_{};
    clockid_t clock_ = CLOCK_THREAD_CPUTIME_ID;
};

}  // namespace CaptureBench
