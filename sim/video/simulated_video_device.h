#pragma once
// One simulated video-input device. While it exists it is listed in the video-input
// category; each bind of its moniker creates a new capture filter, which its property bag's
// "DeviceInstance" loads with this device. The device keeps what outlives one filter: the
// controls' state, the counters, and who is streaming.
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dshow/video_input_devices.h"
#include "sim/video/sample_source.h"
#include "sim/video/video_device_settings.h"

namespace zrf::sim {

// The property-bag value that names a listed device to the filter bound from its moniker.
inline constexpr const wchar_t* kDeviceInstanceValue = L"DeviceInstance";

class SimulatedVideoDevice : public std::enable_shared_from_this<SimulatedVideoDevice> {
  public:
    // A null source means the deterministic byte pattern.
    static std::shared_ptr<SimulatedVideoDevice> Create(VideoDeviceSettings settings,
                                                        std::shared_ptr<SampleSource> source = {});
    ~SimulatedVideoDevice();
    SimulatedVideoDevice(const SimulatedVideoDevice&) = delete;
    SimulatedVideoDevice& operator=(const SimulatedVideoDevice&) = delete;

    const VideoDeviceSettings& Settings() const { return settings_; }
    std::wstring DisplayName() const;

    // Content and pacing; take effect at the next Run.
    void SetSampleSource(std::shared_ptr<SampleSource> source);
    std::shared_ptr<SampleSource> Source() const;
    void SetPacing(Pacing pacing) { pacing_.store(pacing); }
    Pacing CurrentPacing() const { return pacing_.load(); }

    // Streaming ownership: one capture filter at a time; a second one is told the device
    // is in use (0x800705AA), as the platform's drivers do.
    HRESULT BeginStreaming(const void* filter);
    void EndStreaming(const void* filter);
    bool IsStreaming() const;

    // The frame counter runs on across runs, so scenes keep moving.
    std::uint64_t NextFrameNumber() { return next_frame_.fetch_add(1); }
    void CountDelivered() { delivered_.fetch_add(1); }
    long FramesDelivered() const { return delivered_.load(); }

    // Frames the camera dropped: the streaming thread came back too late for them (as from a
    // driver whose delivery fell behind) or a stall of the transport took them. The pin's
    // dropped count includes them.
    void CountSkipped(std::uint64_t frames) { skipped_.fetch_add(frames); }
    std::uint64_t FramesSkipped() const { return skipped_.load(); }
    void CountStalled(std::uint64_t frames) { stalled_.fetch_add(frames); }
    // Samples sent cut short or damaged (counted among those delivered).
    void CountCutShort() { cut_short_.fetch_add(1); }
    void CountDamaged() { damaged_.fetch_add(1); }

    // What the device injected, as tests compare it with what a receiver reports. Every frame
    // its sensor made while streaming was sent or dropped: made = sent + dropped.
    struct Truth {
        std::uint64_t made = 0, sent = 0, dropped = 0, stalled = 0, cutShort = 0, damaged = 0;
    };
    Truth Injected() const;

    // A test's starting count of dropped frames; the pin reports it plus the skipped ones.
    void SetDroppedFrames(LONG count) { dropped_.store(count); }
    LONG DroppedFrames() const;

    // Unplugging: the device leaves the category and refuses new binds and runs.
    void Disappear();
    bool HasDisappeared() const { return gone_.load(); }
    // Plugged in again: listed, bound and run as before.
    void Reappear();
    // The listed device of this instance number, while it is listed.
    static std::shared_ptr<SimulatedVideoDevice> Listed(LONG instance);

    // Controls below the graph, shared by every filter bound to the device.
    DWORD ModeValue() const;
    void SetModeValue(DWORD value);
    LONG TransportMode() const;
    HRESULT PutTransportMode(LONG mode);
    std::vector<LONG> TransportModeRequests() const;
    std::vector<BYTE> RawCommand(const BYTE* request, std::size_t length) const;
    void WriteMailbox(const BYTE* request, std::size_t length);
    // Copies the current mailbox reply (zeros while not ready) and returns its length.
    std::size_t ReadMailbox(BYTE* reply, std::size_t capacity);
    int MailboxReads() const;

  private:
    explicit SimulatedVideoDevice(VideoDeviceSettings settings,
                                  std::shared_ptr<SampleSource> source);
    void Register();
    void Unlist();

    const VideoDeviceSettings settings_;
    std::atomic<Pacing> pacing_;
    std::atomic<std::uint64_t> next_frame_{0};
    std::atomic<long> delivered_{0};
    std::atomic<LONG> dropped_;
    std::atomic<std::uint64_t> skipped_{0};
    std::atomic<std::uint64_t> stalled_{0};
    std::atomic<std::uint64_t> cut_short_{0};
    std::atomic<std::uint64_t> damaged_{0};
    std::atomic<bool> gone_{false};

    mutable std::mutex mutex_;
    std::shared_ptr<SampleSource> source_;
    const void* streaming_filter_ = nullptr;
    std::optional<dshow::VideoInputDevices::Id> registration_;
    LONG instance_ = 0;
    DWORD mode_value_ = 0;
    LONG transport_mode_ = 0;
    std::vector<LONG> transport_requests_;
    std::vector<BYTE> mailbox_reply_;
    int reads_since_write_ = 0;
    int mailbox_reads_ = 0;
};

// Filters bound to a device share it: the device outlives its last filter.
using SimulatedVideoDevicePtr = std::shared_ptr<SimulatedVideoDevice>;

}  // namespace zrf::sim
