#pragma once
// Runs a simulated camera through the platform's graph and decodes what it delivered through
// an image stream set up as the device sets it up for the camera's format.
#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <vector>

#include "imaging/img_src_stream.h"
#include "sim/cameras/simulated_camera.h"
#include "tests/imaging/stream_harness.h"
#include "tests/platform/dshow/graph_fixture.h"

namespace zrf::testing {

using Sample = std::vector<std::uint8_t>;

// The first `count` samples the camera delivers in `subtype` from Run on.
inline std::vector<Sample> CaptureSamples(const sim::SimulatedCamera& camera, const GUID& subtype,
                                          long count) {
    GrabberGraph g;
    if (g.Build(camera.Video(), subtype) != S_OK) {
        ADD_FAILURE() << "graph not built";
        return {};
    }
    auto callback = com::MakeCom<RecordingCallback>();
    std::mutex mutex;
    std::vector<Sample> samples;
    callback->hook = [&](IMediaSample* sample) {
        BYTE* data = nullptr;
        if (FAILED(sample->GetPointer(&data))) return;
        std::lock_guard lock(mutex);
        if (static_cast<long>(samples.size()) < count) {
            samples.emplace_back(data, data + sample->GetActualDataLength());
        }
    };
    EXPECT_EQ(S_OK, g.sample_grabber->SetCallback(callback.Get(), 0));
    EXPECT_EQ(S_OK, g.control->Run());
    EXPECT_TRUE(callback->WaitForSamples(count));
    EXPECT_EQ(S_OK, g.control->Stop());
    std::lock_guard lock(mutex);
    return samples;
}

// How the device feeds the stream for a camera format: the transport, the subtype, the picture
// size (USB radiometric raw formats without the region's rows) and the fields.
struct StreamSetup {
    SourceKind kind = SourceKind::Usb;
    GUID subtype{};
    ImageSize size;
    std::int32_t fields = 1;
};

// The stream keeps the camera's own time stamps, so decoded images are comparable byte for byte.
inline ImagingTest::Delivery DecodeSample(const StreamSetup& setup, const Sample& sample) {
    ImgSrcStream stream;
    stream.SetSourceKind(setup.kind);
    stream.SetSubtype(setup.subtype);
    stream.SetFrameRate(30.0f);
    stream.SetFieldCount(setup.fields);
    stream.SetHostTimeStamps(false);
    return ImagingTest::Deliver(stream, sample, setup.size);
}

}  // namespace zrf::testing
