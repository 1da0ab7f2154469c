#pragma once
// The device's state, derived from its fields in one place, and the combinations of fields that
// may exist when no operation is under way. Every lifecycle fault so far was a combination that
// should not exist; debug builds check them as each outermost operation returns.
#include <string>

namespace Vorn::Zephra::Net::Devices::Camera::IR {

enum class DeviceState {
    Created,        // no graph, no channel (also after a disconnect)
    HalfConnected,  // a connect stopped part-way and left what it built (a refused login, an
                    // identifier naming no transport) until the next connect, disconnect or disposal
    Connected,      // graph, stream and, for an infrared camera, the channel: built, not running
    Streaming,      // connected and started
    Stopping,       // a handler asked for a stop, disconnect or disposal that has not run yet
    Disposed,
};

const char* NameOf(DeviceState state);

// The fields that decide the state, read together.
struct DeviceFields {
    bool disposed = false;
    bool graph = false;
    bool stream = false;
    bool channel = false;
    bool imageHandler = false;
    bool connectionBuilt = false;
    bool isGrabbing = false;
    bool graphRunning = false;
    bool hasWindowing = false;
    bool windowingActive = false;
    bool recorder = false;
    bool recorderRetired = false;
    bool deferredAsked = false;  // a handler asked for a stop, disconnect or disposal
};

DeviceState StateOf(const DeviceFields& fields);

// The first rule the fields break, in words; empty when they form an allowed combination.
// isGrabbing may stay set without a running graph (only a stop clears it, a disconnect does
// not); isSupported and windowingFields come from the camera and hold any value.
std::string BrokenRule(const DeviceFields& fields);

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
