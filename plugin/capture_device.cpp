#include "plugin/capture_device.h"

#include <utility>

#include "capture/mtx_graph.h"
#include "host/control/rtree_commander.h"
#include "host/recorder/recorder.h"
#include "imaging/img_src_stream.h"
#include "plugin/handler_scope.h"
#include "plugin/release_thread.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {

CaptureDevice::CaptureDevice(std::string identifier) : identifier(std::move(identifier)) {}

CaptureDevice::~CaptureDevice() {
    // Destroyed by one of its handlers: what raised the handler returns without touching it.
    HandlerScope::MarkGone(this);
    // What this thread's handlers asked for could start only once they return: the destruction
    // does it now. Anything else asked runs first, unless this is the device's own streaming
    // thread, which that would wait for (a handler destroys its device only while no other
    // thread is inside one of its operations, and a deferred one counts).
    deferred.DropThoseOfThisThread();
    if (HandlerScope::DeliveringFor(this))
        deferred.DropAllWaiting();
    else
        deferred.WaitUntilDone();
    DisposeCore(false);
    if (HandlerScope::DeliveringFor(this)) {
        ReleaseFromOwnStream();
        return;
    }
    // Destroyed without Dispose: a graph still running would call into a device that is going
    // away, so it is stopped and destroyed before the stream, as the release step does. The
    // recorder is unsubscribed and closed, its recording ended cleanly, before the members go.
    if (captureGraph) {
        captureGraph->Stop();
        DetachNewImageHandler();
        captureGraph.reset();
    }
    CloseRecorder();
    imageStream.reset();
    if (commander) commander->Dispose();
}

void CaptureDevice::ReleaseFromOwnStream() {
    // The sample in flight finishes in the stream and the graph, and through the callback's
    // entry point: they outlive the device until the graph is stopped.
    struct Remains {
        std::unique_ptr<CMtxGraph> graph;
        std::unique_ptr<System::Runtime::InteropServices::NativeCallback> handle;
        std::unique_ptr<ImgSrcStream> stream;
        std::unique_ptr<Communication::RTreeCommander> commander;
    };
    imageStream->SetNewImageCallback(nullptr);  // this thread's own stream: no next delivery
    CloseRecorder();
    auto remains = std::make_shared<Remains>(Remains{std::move(captureGraph), std::move(newImageHandle),
                                                     std::move(imageStream), std::move(commander)});
    ReleaseOnOwnThread([remains] {
        remains->graph->Stop();
        remains->graph.reset();
        remains->handle.reset();
        remains->stream.reset();
        if (remains->commander) remains->commander->Dispose();
    });
}

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
