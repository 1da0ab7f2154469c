#include "plugin/capture_device.h"

#include "capture/mtx_graph.h"
#include "host/control/rtree_commander.h"
#include "host/recorder/recorder.h"
#include "imaging/img_src_stream.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {

CaptureDevice::CaptureDevice(std::string identifier) : identifier(std::move(identifier)) {}

CaptureDevice::~CaptureDevice() {
    // Destroyed without Dispose: a graph still running would call into a device that is going
    // away, so it is stopped and destroyed before the stream, as the release step does. The
    // recorder is unsubscribed and closed, its recording ended cleanly, before the members go.
    DisposeCore(false);
    if (captureGraph) {
        captureGraph->Stop();
        DetachNewImageHandler();
        captureGraph.reset();
    }
    CloseRecorder();
    imageStream.reset();
    if (commander) commander->Dispose();
}

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
