#include "plugin/device_state.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {

const char* NameOf(DeviceState state) {
    switch (state) {
        case DeviceState::Created: return "created";
        case DeviceState::HalfConnected: return "half-connected";
        case DeviceState::Connected: return "connected";
        case DeviceState::Streaming: return "streaming";
        case DeviceState::Stopping: return "stopping";
        case DeviceState::Disposed: return "disposed";
    }
    return "?";
}

DeviceState StateOf(const DeviceFields& f) {
    if (f.disposed) return DeviceState::Disposed;
    if (f.deferredAsked) return DeviceState::Stopping;
    if (!f.graph) return DeviceState::Created;
    if (!f.connectionBuilt) return DeviceState::HalfConnected;
    return f.graphRunning ? DeviceState::Streaming : DeviceState::Connected;
}

std::string BrokenRule(const DeviceFields& f) {
    struct Rule {
        bool holds;
        const char* text;
    };
    const Rule rules[] = {
        {!f.disposed || (!f.graph && !f.stream && !f.channel && !f.imageHandler && !f.recorder),
         "a disposed device holds a graph, stream, channel, image handler or recorder"},
        {f.disposed == f.recorderRetired, "the recorder is retired exactly when the device is disposed"},
        {f.graph == f.stream, "a graph without its stream, or a stream without its graph"},
        {!f.channel || f.graph, "a control channel without a graph"},
        {!f.imageHandler || f.stream, "an image handler without a stream"},
        {!f.connectionBuilt || f.graph, "a built connection without a graph"},
        {!f.graphRunning || (f.connectionBuilt && f.isGrabbing),
         "a started graph on a connection not built, or not grabbing"},
        {!f.hasWindowing || f.graph, "windowing known without a connection"},
        {!f.windowingActive || f.hasWindowing, "windowing active on a camera without windowing"},
    };
    for (const Rule& rule : rules)
        if (!rule.holds) return rule.text;
    return {};
}

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
