// Camera and IR controls: correction, shutter, temperature ranges, focus, frame rates and the
// windowing switch.
#include <cmath>
#include <exception>

#include "capture/mtx_graph.h"
#include "host/control/rtree_commander.h"
#include "host/devices/framework_exceptions.h"
#include "host/logging/logger.h"
#include "imaging/img_src_stream.h"
#include "platform/time/windows_time.h"
#include "host/system/exceptions.h"
#include "plugin/capture_device.h"
#include "plugin/capture_device_constants.h"
#include "plugin/handler_scope.h"

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
    auto lock = LockDevice("IRControl_Nuc");
    if (!commander) return;
    commander->Nuc();
    Sleep(k::kNucSettleMs);
}

bool CaptureDevice::IRControl_GetShutter() {
    auto lock = LockDevice("IRControl_GetShutter");
    return commander ? commander->GetShutter() : false;
}

void CaptureDevice::IRControl_SetShutter(bool closed) {
    auto lock = LockDevice("IRControl_SetShutter");
    if (commander) commander->SetShutter(closed);
}

// Never fails: any failure, a call from a handler (which may not wait for the lock) included,
// answers with a null reference.
XElement CaptureDevice::IRControl_GetTemperatureRanges() {
    if (HandlerScope::Active()) return XElement();
    auto lock = LockDevice("IRControl_GetTemperatureRanges");
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
    auto lock = LockDevice("IRControl_SetTemperatureRange");
    ThrowIfNotConnected();
    if (!commander) NoControlChannel();
    if (!commander->IsTheSameLens()) throw CommandFailedException(k::kLensChanged);
    // The host is still grabbing while the camera changes its range: the graph stops and runs
    // again under the lock, and the grabbing flag, which reads take without it, stays as it is.
    const bool restart = commander->IsTULA() && graphRunning;
    if (restart) captureGraph->Stop();
    try {
        commander->SetTemperatureRange(index);
    } catch (...) {
        // The range did not change: the host's stream must not stay stopped because of it.
        if (restart) RestartAfterRangeChange();
        throw;
    }
    Sleep(k::kTemperatureRangeSettleMs);
    if (restart) RestartAfterRangeChange();
}

// What a start does, for a stream the host never stopped: the counters begin again.
void CaptureDevice::RestartAfterRangeChange() {
    lostFrames = 0;
    frameCount = 0;
    RunAgainIfStreaming();
}

int CaptureDevice::IRControl_GetTemperatureRange() {
    auto lock = LockDevice("IRControl_GetTemperatureRange");
    ThrowIfNotConnected();
    return commander ? commander->GetTemperatureRange() : 0;
}

#include "host/control/near_far_hidden.h"
// Every failure is swallowed, a call from a handler (which may not wait for the lock) included.
void CaptureDevice::Control_Focus(FocusMode mode) {
    if (HandlerScope::Active()) return;
    auto lock = LockDevice("Control_Focus");
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
#include "host/control/near_far_restored.h"

void CaptureDevice::Control_SetFocusPosition(int position) {
    auto lock = LockDevice("Control_SetFocusPosition");
    if (!commander) NoControlChannel();
    if (focusType >= kMirroredFocusType) position = Control_GetFocusMax() - position;
    commander->SetFocusPosition(position);
}

// 0 on failure; from a handler, which may not wait for the lock, 0 too. Neither a handler's
// call nor its answer marks focus as unavailable: the camera did not fail.
int CaptureDevice::Control_GetFocusPosition() {
    int value = 0;
    if (HandlerScope::Active()) return value;
    auto lock = LockDevice("Control_GetFocusPosition");
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

// A cached or fixed limit needs no lock, so a handler gets it too; one the camera must be asked
// for needs the lock, and a handler gets 0, the answer to a failure, without it being cached.
int CaptureDevice::FocusLimit(std::atomic<std::int32_t>& cache, int fixedValue, bool max) {
    if (cache >= 0) return cache;
    int value = 0;
    if (focusType >= 0) {
        value = fixedValue;
    } else if (HandlerScope::Active()) {
        return 0;
    } else {
        auto lock = LockDevice(max ? "Control_GetFocusMax" : "Control_GetFocusMin");
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
    auto lock = LockDevice("Control_GetFrameRates");
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
    auto lock = LockDevice("Control_GetFrameRate");
    ThrowIfNotConnected();
    // The graph tells the stream the exact rate as it reads it; passing this cut copy on too
    // would restart the stream's clock under a running stream.
    const float current = static_cast<float>(captureGraph->GetFrameRate());
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
    // The range check reads the graph's list, which a connect on another thread fills under
    // the device lock: the check takes that lock too, and still comes before the connection
    // check.
    auto lock = LockDevice("Control_SetFrameRate");
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
    RunAgainIfStreaming();
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
        // The camera settles and is corrected even when the restart failed; then the failure.
        std::exception_ptr restartFailure;
        try {
            RunAgainIfStreaming();
        } catch (...) {
            restartFailure = std::current_exception();
        }
        Sleep(k::kWindowingSettleMs);
        IRControl_Nuc();
        if (restartFailure) std::rethrow_exception(restartFailure);
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
    RunAgainIfStreaming();
}

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
