// Camera and IR controls: correction, shutter, temperature ranges, focus, frame rates and the
// windowing switch.
#include <cmath>

#include "capture/mtx_graph.h"
#include "host/control/rtree_commander.h"
#include "host/devices/framework_exceptions.h"
#include "host/logging/logger.h"
#include "imaging/img_src_stream.h"
#include "platform/time/windows_time.h"
#include "host/system/exceptions.h"
#include "plugin/capture_device.h"
#include "plugin/capture_device_constants.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {

using Communication::FOCUSMODE;
using Vorn::Zephra::Diagnostics::Log::Logger;
namespace k = constants;

namespace {

constexpr int kFixedFocusMax = 65535;
constexpr int kFixedFocusMin = 0;
constexpr int kMirroredFocusType = 200;
constexpr float kHalfTenth = 0.05f;

// A rate cut down to one decimal, as the graph reads it back.
float TenthsOf(float rate) { return std::floor(rate * 10.0f) / 10.0f; }

[[noreturn]] void NoControlChannel() {
    throw System::InvalidOperationException("The camera has no control channel");
}

}  // namespace

void CaptureDevice::IRControl_Nuc() {
    std::lock_guard lock(syncRoot);
    if (!commander) return;
    commander->Nuc();
    Sleep(k::kNucSettleMs);
}

bool CaptureDevice::IRControl_GetShutter() {
    std::lock_guard lock(syncRoot);
    return commander ? commander->GetShutter() : false;
}

void CaptureDevice::IRControl_SetShutter(bool closed) {
    std::lock_guard lock(syncRoot);
    if (commander) commander->SetShutter(closed);
}

XElement CaptureDevice::IRControl_GetTemperatureRanges() {
    std::lock_guard lock(syncRoot);
    try {
        ThrowIfNotConnected();
        if (!commander) NoControlChannel();
        Entities::XmlUtils::TemperatureRangeXml ranges;
        for (const auto& range : commander->GetTemperatureRanges())
            ranges.AddRange(range.min, range.max);
        ranges.SelectRange(IRControl_GetTemperatureRange());
        return ranges.XMLData();
    } catch (...) {
        return XElement();
    }
}

void CaptureDevice::IRControl_SetTemperatureRange(int index) {
    ThrowIfCalledFromHandler("IRControl_SetTemperatureRange");
    std::lock_guard lock(syncRoot);
    ThrowIfNotConnected();
    if (!commander) NoControlChannel();
    if (!commander->IsTheSameLens()) throw CommandFailedException(k::kLensChanged);
    const bool restart = commander->IsTULA() && graphRunning;
    if (restart) GrabContinous_Stop();
    try {
        commander->SetTemperatureRange(index);
    } catch (...) {
        // The range did not change: the host's stream must not stay stopped because of it.
        if (restart) GrabContinous_Start();
        throw;
    }
    Sleep(k::kTemperatureRangeSettleMs);
    if (restart) GrabContinous_Start();
}

int CaptureDevice::IRControl_GetTemperatureRange() {
    std::lock_guard lock(syncRoot);
    ThrowIfNotConnected();
    return commander ? commander->GetTemperatureRange() : 0;
}

#ifdef _WIN32
// The platform's headers define NEAR and FAR as macros.
#pragma push_macro("NEAR")
#pragma push_macro("FAR")
#undef NEAR
#undef FAR
#endif
void CaptureDevice::Control_Focus(FocusMode mode) {
    std::lock_guard lock(syncRoot);
    if (!commander) return;
    try {
        switch (mode) {
            case FocusMode::Near: commander->Focus(FOCUSMODE::NEAR); break;
            case FocusMode::Far: commander->Focus(FOCUSMODE::FAR); break;
            case FocusMode::Stop: commander->Focus(FOCUSMODE::STOP); break;
            case FocusMode::Auto: commander->AutoFocus(); break;
            default: break;
        }
    } catch (...) {
        // Focusing is best effort; the host has no use for the failure.
    }
}
#ifdef _WIN32
#pragma pop_macro("FAR")
#pragma pop_macro("NEAR")
#endif

void CaptureDevice::Control_SetFocusPosition(int position) {
    std::lock_guard lock(syncRoot);
    if (!commander) NoControlChannel();
    if (focusType >= kMirroredFocusType) position = Control_GetFocusMax() - position;
    commander->SetFocusPosition(position);
}

int CaptureDevice::Control_GetFocusPosition() {
    int value = 0;
    std::lock_guard lock(syncRoot);
    try {
        if (focusAvailable) {
            if (!commander) NoControlChannel();
            value = commander->GetFocusPosition();
            if (focusType >= kMirroredFocusType) value = Control_GetFocusMax() - value;
        }
    } catch (...) {
        focusAvailable = false;
    }
    return value;
}

int CaptureDevice::FocusLimit(std::atomic<std::int32_t>& cache, int fixedValue, bool max) {
    if (cache >= 0) return cache;
    int value = 0;
    if (focusType >= 0) {
        value = fixedValue;
    } else {
        std::lock_guard lock(syncRoot);
        if (focusAvailable) {
            try {
                if (!commander) NoControlChannel();
                value = max ? commander->GetFocusMax() : commander->GetFocusMin();
            } catch (...) {
                focusAvailable = false;
                value = 0;
            }
        }
    }
    cache = value;
    return value;
}

int CaptureDevice::Control_GetFocusMax() { return FocusLimit(focusMaxCache, kFixedFocusMax, true); }

int CaptureDevice::Control_GetFocusMin() { return FocusLimit(focusMinCache, kFixedFocusMin, false); }

int CaptureDevice::GraphRateCount() const {
    return static_cast<int>(captureGraph->FrameRates().size());
}

float CaptureDevice::GraphRate(int index) const { return captureGraph->FrameRates()[index]; }

XElement CaptureDevice::Control_GetFrameRates() {
    std::lock_guard lock(syncRoot);
    ThrowIfNotConnected();
    Entities::XmlUtils::FrameRateXml rates;
    rates.SetIsCameraAsync(false);
    for (int i = GraphRateCount() - 1; i >= 0; --i) rates.AddRange(GraphRate(i));
    if (hasWindowing) {
        rates.AddRange(k::kWindowingRate2);
        rates.AddRange(k::kWindowingRate4);
    }
    rates.SelectRange(Control_GetFrameRate());
    return rates.XMLData();
}

int CaptureDevice::Control_GetFrameRate() {
    std::lock_guard lock(syncRoot);
    ThrowIfNotConnected();
    const float current = static_cast<float>(captureGraph->GetFrameRate());
    imageStream->SetFrameRate(current);
    const int n = GraphRateCount();
    if (hasWindowing && windowingActive) {
        if (windowingFields == 2) return n;
        if (windowingFields == 4) return n + 1;
        Logger::TraceError(k::kUnsupportedWindowing);
        throw System::NotSupportedException(k::kUnsupportedWindowing);
    }
    // Host index i stands for graph entry n - 1 - i: the host sees the list reversed. The
    // graph reads its rate back cut to one decimal while the list may keep two (3.75, 29.97),
    // so entries are compared cut the same way, with half a tenth to spare for rounding.
    const auto lowerEdge = [this](int entry) { return TenthsOf(GraphRate(entry)) - kHalfTenth; };
    int i = 0;
    for (; n - 1 - i > 0; ++i)
        if (lowerEdge(n - 1 - i) <= current && current < lowerEdge(n - 2 - i)) return i;
    return n == 0 ? 0 : i;
}

void CaptureDevice::Control_SetFrameRate(int index) {
    ThrowIfCalledFromHandler("Control_SetFrameRate");
    // The range check reads the graph's list, which a connect on another thread fills under
    // the device lock: the check takes that lock too, and still comes before the connection
    // check.
    std::lock_guard lock(syncRoot);
    // Without a graph there is no list to check the index against.
    if (!captureGraph) throw System::InvalidOperationException(k::kNotConnected);
    const int n = GraphRateCount();
    const int total = n + (hasWindowing ? 2 : 0);
    if (index < 0 || index >= total) throw System::ArgumentOutOfRangeException("SetFrameRate");

    ThrowIfNotConnected();
    if (index >= n) {
        SetWindowingMode(index == n ? 2 : 4);
        return;
    }
    SetWindowingMode(0);
    const float rate = GraphRate(n - 1 - index);
    captureGraph->Stop();
    imageStream->SetFrameRate(rate);
    captureGraph->SetFrameRate(rate);
    // Only a started graph streams again: the host gets no image before a start, after a stop,
    // or on a new connection that was not started yet.
    if (graphRunning) captureGraph->Run();
}

void CaptureDevice::SetWindowingMode(int fields) {
    if (!hasWindowing) return;
    if (fields == 0) {
        if (!windowingActive) return;
        // Stopped first: a sample in flight still carries all its fields.
        captureGraph->Stop();
        windowingActive = false;
        try {
            ConfigureStream([&] { imageStream->SetFieldCount(1); });
            UpdateRecorderImageSize();
            commander->SetWindowing(false);
        } catch (...) {
            // The camera keeps its windowing; the stream already decodes single fields.
        }
        if (graphRunning) captureGraph->Run();
        Sleep(k::kWindowingSettleMs);
        IRControl_Nuc();
        return;
    }
    captureGraph->Stop();
    captureGraph->SetFrameRate(k::kWindowingGraphRate);
    imageStream->SetFrameRate(k::kWindowingGraphRate);
    windowingFields = fields;
    try {
        commander->SetWindowingFields(fields);
        commander->SetWindowing(true);
        windowingActive = true;
        if (captureGraph) {
            ConfigureStream([&] { imageStream->SetFieldCount(fields); });
            UpdateRecorderImageSize();
        }
        Sleep(k::kWindowingSettleMs);
        IRControl_Nuc();
    } catch (...) {
        // Left as far as it got; the graph runs again below.
    }
    if (graphRunning) captureGraph->Run();
}

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
