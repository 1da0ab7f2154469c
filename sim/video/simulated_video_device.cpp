#include "sim/video/simulated_video_device.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include <map>

#include "sim/video/capture_source_filter.h"

namespace zrf::sim {

std::shared_ptr<SimulatedVideoDevice> SimulatedVideoDevice::Create(
    VideoDeviceSettings settings, std::shared_ptr<SampleSource> source) {
    if (!source) source = std::make_shared<PatternSampleSource>();
    std::shared_ptr<SimulatedVideoDevice> device(
        new SimulatedVideoDevice(std::move(settings), std::move(source)));
    device->Register();
    return device;
}

SimulatedVideoDevice::SimulatedVideoDevice(VideoDeviceSettings settings,
                                           std::shared_ptr<SampleSource> source)
    : settings_(std::move(settings)),
      pacing_(settings_.pacing),
      dropped_(settings_.dropped_frames),
      source_(std::move(source)) {
    if (settings_.maker_properties) mode_value_ = settings_.maker_properties->mode_value;
    if (settings_.transport) transport_mode_ = settings_.transport->initial_mode;
}

LONG SimulatedVideoDevice::DroppedFrames() const {
    // A count past the pin's LONG stays at its largest, as a counter that saturates. (A test may
    // set any value, a negative one too, as a misbehaving driver's.)
    const std::uint64_t skipped = std::min<std::uint64_t>(skipped_.load(), std::uint64_t{1} << 62);
    const std::int64_t total = std::int64_t{dropped_.load()} + static_cast<std::int64_t>(skipped);
    return static_cast<LONG>(std::clamp<std::int64_t>(total, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max()));
}

std::wstring SimulatedVideoDevice::DisplayName() const {
    return settings_.display_name.empty() ? L"@device:pnp:" + settings_.device_path
                                          : settings_.display_name;
}

// The stand-in's category lists devices by this process's registry. On Windows the filter
// DLL's registration lists the camera instead, and each bind makes its own device.
#ifdef _WIN32
SimulatedVideoDevice::~SimulatedVideoDevice() = default;
void SimulatedVideoDevice::Register() {}
void SimulatedVideoDevice::Unlist() {}
std::shared_ptr<SimulatedVideoDevice> SimulatedVideoDevice::Listed(LONG) {
    return nullptr;
}
#else
namespace {

struct Instances {
    std::mutex mutex;
    std::map<LONG, std::weak_ptr<SimulatedVideoDevice>> devices;
    LONG next = 1;
};

Instances& TheInstances() {
    static Instances instances;
    return instances;
}

}  // namespace

SimulatedVideoDevice::~SimulatedVideoDevice() {
    Unlist();
}

// Listed with the values the capture filter is loaded from: its class and the instance number
// that names this device.
void SimulatedVideoDevice::Register() {
    auto entry = dshow::VideoInputDevice::Of(
        CLSID_SimulatedCaptureFilter, settings_.friendly_name,
        settings_.should_omit_device_path ? std::nullopt
                                          : std::optional<std::wstring>(settings_.device_path),
        DisplayName());
    Instances& instances = TheInstances();
    std::lock_guard lock(instances.mutex);
    instance_ = instances.next++;
    instances.devices[instance_] = weak_from_this();
    entry.values[kDeviceInstanceValue] = instance_;
    registration_ = dshow::VideoInputDevices::Add(std::move(entry));
}

void SimulatedVideoDevice::Unlist() {
    std::optional<dshow::VideoInputDevices::Id> registration;
    {
        std::lock_guard lock(mutex_);
        registration.swap(registration_);
    }
    if (!registration) return;
    dshow::VideoInputDevices::Remove(*registration);
    Instances& instances = TheInstances();
    std::lock_guard lock(instances.mutex);
    instances.devices.erase(instance_);
}

std::shared_ptr<SimulatedVideoDevice> SimulatedVideoDevice::Listed(LONG instance) {
    Instances& instances = TheInstances();
    std::lock_guard lock(instances.mutex);
    auto found = instances.devices.find(instance);
    return found != instances.devices.end() ? found->second.lock() : nullptr;
}
#endif

void SimulatedVideoDevice::SetSampleSource(std::shared_ptr<SampleSource> source) {
    std::lock_guard lock(mutex_);
    source_ = source ? std::move(source) : std::make_shared<PatternSampleSource>();
}

std::shared_ptr<SampleSource> SimulatedVideoDevice::Source() const {
    std::lock_guard lock(mutex_);
    return source_;
}

HRESULT SimulatedVideoDevice::BeginStreaming(const void* filter) {
    if (HasDisappeared()) return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    std::lock_guard lock(mutex_);
    if (streaming_filter_ != nullptr && streaming_filter_ != filter) {
        return HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES);
    }
    streaming_filter_ = filter;
    return S_OK;
}

void SimulatedVideoDevice::EndStreaming(const void* filter) {
    std::lock_guard lock(mutex_);
    if (streaming_filter_ == filter) streaming_filter_ = nullptr;
}

bool SimulatedVideoDevice::IsStreaming() const {
    std::lock_guard lock(mutex_);
    return streaming_filter_ != nullptr;
}

void SimulatedVideoDevice::Disappear() {
    gone_.store(true);
    Unlist();
}

void SimulatedVideoDevice::Reappear() {
    if (!gone_.exchange(false)) return;
    Register();
}

SimulatedVideoDevice::Truth SimulatedVideoDevice::Injected() const {
    Truth t;
    t.sent = static_cast<std::uint64_t>(delivered_.load());
    t.dropped = skipped_.load();
    t.made = t.sent + t.dropped;
    t.stalled = stalled_.load();
    t.cutShort = cut_short_.load();
    t.damaged = damaged_.load();
    return t;
}

DWORD SimulatedVideoDevice::ModeValue() const {
    std::lock_guard lock(mutex_);
    return mode_value_;
}

void SimulatedVideoDevice::SetModeValue(DWORD value) {
    std::lock_guard lock(mutex_);
    mode_value_ = value;
}

LONG SimulatedVideoDevice::TransportMode() const {
    std::lock_guard lock(mutex_);
    return transport_mode_;
}

HRESULT SimulatedVideoDevice::PutTransportMode(LONG mode) {
    std::lock_guard lock(mutex_);
    transport_requests_.push_back(mode);
    transport_mode_ = mode;
    return S_OK;
}

std::vector<LONG> SimulatedVideoDevice::TransportModeRequests() const {
    std::lock_guard lock(mutex_);
    return transport_requests_;
}

std::vector<BYTE> SimulatedVideoDevice::RawCommand(const BYTE* request, std::size_t length) const {
    const auto& maker = settings_.maker_properties;
    if (maker && maker->raw_command) return maker->raw_command(request, length);
    return std::vector<BYTE>(request, request + length);
}

void SimulatedVideoDevice::WriteMailbox(const BYTE* request, std::size_t length) {
    std::vector<BYTE> reply;
    const auto& unit = settings_.extension_unit;
    if (unit && unit->respond) {
        reply = unit->respond(request, length);
    } else {
        reply.assign(request, request + length);
        if (reply.size() < 2) reply.resize(2);
        if (reply[0] == 0 && reply[1] == 0) reply[0] = 1;
    }
    std::lock_guard lock(mutex_);
    mailbox_reply_ = std::move(reply);
    reads_since_write_ = 0;
}

std::size_t SimulatedVideoDevice::ReadMailbox(BYTE* reply, std::size_t capacity) {
    std::lock_guard lock(mutex_);
    ++mailbox_reads_;
    int not_ready = settings_.extension_unit ? settings_.extension_unit->not_ready_reads : 0;
    std::memset(reply, 0, capacity);
    if (reads_since_write_++ < not_ready) return capacity;
    std::memcpy(reply, mailbox_reply_.data(), std::min(capacity, mailbox_reply_.size()));
    return capacity;
}

int SimulatedVideoDevice::MailboxReads() const {
    std::lock_guard lock(mutex_);
    return mailbox_reads_;
}

}  // namespace zrf::sim
