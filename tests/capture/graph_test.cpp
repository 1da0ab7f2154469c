// Device selection, the stream chain, running, the alternative chains, the sample callback and
// teardown, on a platform that misbehaves on request: each failure keeps its code.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "capture/capture_ids.h"
#include "capture/my_grab_cb.h"
#include "host/logging/logger.h"
#include "imaging/media_subtypes.h"
#include "platform/com/task_allocator.h"
#include "platform/dshow/media_sample.h"
#include "platform/dshow/property_frame.h"
#include "platform/dshow/transform_filters.h"
#include "tests/capture/capture_fixture.h"

namespace CaptureTest {
namespace {

using Vorn::Zephra::Diagnostics::Log::LogCapture;
using zrf::capture::kClsidIrOut;
using zrf::capture::kClsidVornTransform;
using zrf::com::ScopedClassOverride;

const std::wstring kPath = L"\\\\?\\usb#vid_aaaa&pid_0001#1&2&3#{65e8773d}\\global";

std::vector<zrf::sim::VideoFormat> F7M0Only() {
    return {{kSubtypeF7M0, 640, 483, 16, 0, {333333}}};
}

// Keeps a class away while it lives.
std::function<std::shared_ptr<void>()> Missing(const CLSID& clsid) {
    return
        [clsid] { return std::make_shared<ScopedClassOverride>(clsid, zrf::com::ClassFactory{}); };
}

ScopedClassOverride PassThrough(const CLSID& clsid) {
    return ScopedClassOverride(clsid, zrf::dshow::PassThroughFilterFactory(clsid));
}

class GraphTest : public ::testing::Test {
  protected:
    // Selection, F7M0 and the build: the first code that is not S_OK.
    static HRESULT Build(CMtxGraph& graph, const std::wstring& path = kPath, bool preview = false) {
        HRESULT hr = graph.SelectDevice(path, L"0", false);
        if (hr == S_OK) hr = graph.SetMediaType(kSubtypeF7M0);
        return hr == S_OK ? graph.BuildCaptureGraph(preview) : hr;
    }

    DevicePtr device_ = AddDevice(PlainDevice(kPath, F7M0Only()));
    CMtxGraph graph_;
};

// Before a device is selected nothing is there to call.
TEST_F(GraphTest, AnUnselectedGraphAnswersEveryCallWithItsCode) {
    BYTE buffer[256] = {1};
    LONG length = 1, dropped = -1;
    const std::pair<HRESULT, HRESULT> rows[] = {
        {graph_.Run(), E_FAIL},
        {graph_.Stop(), E_FAIL},
        {graph_.BuildCaptureGraph(false), E_FAIL},
        {graph_.BuildDecompressorChain(), E_FAIL},
        {graph_.BuildDVChain(), E_FAIL},
        {graph_.GetDroppedFrames(&dropped), E_FAIL},
        {graph_.SendRawCommand(buffer, &length), S_FALSE},
        {graph_.SendRawCommand(nullptr, &length), E_POINTER},
        {graph_.WriteModeValue(4), S_FALSE},
        {graph_.ExtensionUnitTransact(buffer, &length), E_FAIL},
        {graph_.SetTransportMode(ED_MODE_PLAY), S_OK},
        {graph_.ShowTransformPropertyPages(nullptr), E_FAIL},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) EXPECT_EQ(rows[i].first, rows[i].second) << i;
    EXPECT_EQ(0, dropped);
    EXPECT_EQ(10.0, graph_.GetFrameRate());
}

TEST_F(GraphTest, SelectionFailuresKeepTheirCodesAndFillNoSlot) {
    // A device whose filter class cannot be created: its moniker does not bind.
    const CLSID brokenClass = {0x6B0E2C41, 0x1D5A, 0x4F7B, {0x8E, 0x33, 0x02, 0x9C, 0x4A, 0x71, 0x5D, 0x18}};
    ScopedClassOverride broken(brokenClass, [](REFIID, void**) {
        return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    });
    const auto brokenId = zrf::dshow::VideoInputDevices::Add(zrf::dshow::VideoInputDevice::Of(
        brokenClass, L"Broken", L"\\\\?\\usb#broken", L"@device:pnp:broken"));
    // What is arranged first, the path and SelectDevice's code.
    const std::tuple<std::function<std::shared_ptr<void>()>, std::wstring, HRESULT> cases[] = {
        {[] { return std::make_shared<zrf::dshow::ScopedEmptyVideoInputCategory>(); }, kPath,
         E_FAIL},
        {{}, L"\\\\?\\usb#other", E_FAIL},
        {Missing(CLSID_SystemDeviceEnum), kPath, REGDB_E_CLASSNOTREG},
        {Missing(CLSID_FilterGraph), kPath, REGDB_E_CLASSNOTREG},
        {Missing(CLSID_CaptureGraphBuilder2), kPath, REGDB_E_CLASSNOTREG},
        {{}, L"\\\\?\\USB#BROKEN", HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)},
    };
    for (const auto& [arrange, path, code] : cases) {
        SCOPED_TRACE(std::string(path.begin(), path.end()) + " " + std::to_string(code));
        CreatedObjects created({CLSID_FilterGraph});
        const auto arranged = arrange ? arrange() : nullptr;
        CMtxGraph graph;
        EXPECT_EQ(code, graph.SelectDevice(path, L"0", false));
        EXPECT_FALSE(graph.IsMediaTypeAvailable(kSubtypeF7M0));
        EXPECT_EQ(E_FAIL, graph.BuildCaptureGraph(false));
        // No graph is made before a device is found.
        EXPECT_TRUE(code != E_FAIL || created.Count(CLSID_FilterGraph) == 0);
    }
    zrf::dshow::VideoInputDevices::Remove(brokenId);
}

// The path is compared ignoring case; a device without "DevicePath" is passed over.
TEST_F(GraphTest, FindsTheDeviceByItsPath) {
    auto hiddenSettings = PlainDevice(kPath, {{kSubtypeF7M2, 640, 480, 16, 0, {333333}}});
    hiddenSettings.should_omit_device_path = true;
    device_.reset();
    DevicePtr hidden = AddDevice(hiddenSettings);  // listed first
    DevicePtr listed = AddDevice(PlainDevice(kPath, F7M0Only()));
    std::wstring upper = kPath;
    for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
    EXPECT_EQ(S_OK, graph_.SelectDevice(upper, L"0", false));
    EXPECT_TRUE(graph_.IsMediaTypeAvailable(kSubtypeF7M0));
    EXPECT_FALSE(graph_.IsMediaTypeAvailable(kSubtypeF7M2));
}

// The grabber is needed, the null renderer and the maker's transform are not; the video renderer
// only for a preview (a capture graph holds none: its window would tie the graph's release to
// the connecting thread). A missing grabber is also told to the user.
TEST_F(GraphTest, BuildNeedsTheGrabberAndAPreviewTheRenderer) {
    for (const auto& [clsid, preview, code] :
         {std::tuple{CLSID_SampleGrabber, false, REGDB_E_CLASSNOTREG},
          {CLSID_VideoRenderer, false, S_OK},
          {CLSID_VideoRenderer, true, REGDB_E_CLASSNOTREG},
          {CLSID_NullRenderer, false, S_OK},
          {kClsidVornTransform, false, S_OK}}) {
        ScopedClassOverride missing(clsid, {});
        LogCapture log;
        CMtxGraph graph;
        EXPECT_EQ(code, Build(graph, kPath, preview));
        EXPECT_FALSE(graph.TransformPresent());
        const auto errors = log.UserErrors();
        ASSERT_EQ(errors.size(), clsid == CLSID_SampleGrabber ? 1u : 0u);
        if (errors.empty()) continue;
        EXPECT_EQ("CAMERA_UNKNOWN_ERROR", errors[0].key);
        EXPECT_EQ(
            "Could not create sample grabber filter.\nPlease make sure that you have DirectX\n"
            "version 8.1 or higher installed on your computer.\n",
            errors[0].text);
        EXPECT_EQ(std::vector<std::string>{"0x80040154"}, errors[0].arguments);
    }
}

// Preview goes through the transform when it is there, whose pages are shown on request.
TEST_F(GraphTest, PreviewGoesThroughTheTransformAndItsPagesAreShown) {
    const auto transform = PassThrough(kClsidVornTransform);
    CreatedObjects created({kClsidVornTransform});
    EXPECT_EQ(S_OK, Build(graph_, kPath, true));
    EXPECT_TRUE(graph_.TransformPresent());
    ASSERT_EQ(1u, created.Count(kClsidVornTransform));
    ComPtr<IBaseFilter> filter;
    created.First(kClsidVornTransform)->QueryInterface(IID_IBaseFilter, filter.ReceiveVoid());
    ComPtr<IEnumPins> pins;
    filter->EnumPins(pins.Receive());
    ComPtr<IPin> input, peer;
    ASSERT_EQ(S_OK, pins->Next(1, input.Receive(), nullptr));
    EXPECT_EQ(S_OK, input->ConnectedTo(peer.Receive()));
    const long shown = zrf::dshow::PropertyFramesShown();
    int owner = 0;
    EXPECT_EQ(S_OK, graph_.ShowTransformPropertyPages(&owner));
    EXPECT_EQ(shown + 1, zrf::dshow::PropertyFramesShown());
    const auto frame = zrf::dshow::LastPropertyFrame();
    EXPECT_EQ(&owner, frame.owner);
    EXPECT_EQ(L"VORNTransform", frame.caption);
    EXPECT_EQ(std::tuple(1u, 1u, 0u), std::tuple(frame.objects, frame.pages.size(), frame.locale));
}

// Dropped frames come from the capture pin: the driver's own count and the frames the camera
// came back too late for, kept within a LONG; a pin without the interface fails the build with
// the lookup's code.
TEST_F(GraphTest, DroppedFramesComeFromTheCapturePin) {
    LONG dropped = -1;
    struct Case {
        LONG set;
        std::uint64_t skipped;
        LONG reported;
    };
    constexpr LONG kMost = std::numeric_limits<LONG>::max();
    constexpr LONG kLeast = std::numeric_limits<LONG>::min();
    const Case cases[] = {{5, 0, 5}, {5, 3, 8}, {-5, 3, -2}, {kMost, 1, kMost}, {0, std::uint64_t{1} << 40, kMost},
                          {kLeast, 0, kLeast}, {kLeast, std::uint64_t{1} << 40, kMost}, {kLeast, 1, kLeast + 1}};
    for (const Case& c : cases) {
        const std::wstring path = L"\\\\?\\usb#counts" + std::to_wstring(&c - cases);
        DevicePtr device = AddDevice(PlainDevice(path, F7M0Only()));
        device->SetDroppedFrames(c.set);
        device->CountSkipped(c.skipped);
        CMtxGraph graph;
        ASSERT_EQ(S_OK, Build(graph, path));
        EXPECT_EQ(S_OK, graph.GetDroppedFrames(&dropped));
        EXPECT_EQ(c.reported, dropped) << c.set << " + " << c.skipped;
    }
    auto settings = PlainDevice(L"\\\\?\\usb#nodrop", F7M0Only());
    settings.should_omit_dropped_frames = true;
    DevicePtr device = AddDevice(settings);
    CMtxGraph graph;
    EXPECT_EQ(E_FAIL, Build(graph, L"\\\\?\\usb#nodrop"));
    EXPECT_EQ(E_FAIL, graph.GetDroppedFrames(&dropped));
}

// The platform leaves a graph whose Run failed as far as it got: running with every filter but
// the camera's when the camera cannot run, stopped with the filters downstream of the camera
// paused when it cannot even pause. Either way the graph stops every filter itself.
TEST_F(GraphTest, RunFailuresLeaveTheGraphStopped) {
    const HRESULT busy = HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES);
    for (bool atPause : {false, true}) {
        SCOPED_TRACE(atPause ? "pause" : "run");
        auto settings = PlainDevice(L"\\\\?\\usb#busy", F7M0Only());
        (atPause ? settings.should_fail_pause_with : settings.should_fail_run_with) = busy;
        DevicePtr device = AddDevice(settings);
        CreatedObjects created({CLSID_FilterGraph, CLSID_NullRenderer, CLSID_SampleGrabber});
        CMtxGraph graph;
        ASSERT_EQ(S_OK, Build(graph, L"\\\\?\\usb#busy"));
        EXPECT_EQ(MakeHResult(0x800705AAu), graph.Run());
        ComPtr<IMediaControl> control;
        ASSERT_EQ(S_OK, created.First(CLSID_FilterGraph)
                            ->QueryInterface(IID_IMediaControl, control.ReceiveVoid()));
        OAFilterState state = State_Running;
        control->GetState(0, &state);
        EXPECT_EQ(State_Stopped, state);
        for (const CLSID& clsid : {CLSID_NullRenderer, CLSID_SampleGrabber}) {
            ComPtr<IBaseFilter> filter;
            ASSERT_EQ(S_OK, created.First(clsid)->QueryInterface(IID_IBaseFilter,
                                                                 filter.ReceiveVoid()));
            FILTER_STATE filterState = State_Running;
            filter->GetState(0, &filterState);
            EXPECT_EQ(State_Stopped, filterState);
        }
    }
}

// A capture graph builder keeps the first graph it was given, so the second graph comes with a
// builder of its own; the first graph is let go.
TEST_F(GraphTest, SelectingTwiceReleasesTheFirstGraphAndBuildsOnTheSecond) {
    CreatedObjects created({CLSID_FilterGraph});
    CreatedObjects builders({CLSID_CaptureGraphBuilder2}, false);
    DevicePtr second = AddDevice(PlainDevice(L"\\\\?\\usb#second", F7M0Only()));
    ASSERT_EQ(S_OK, Build(graph_));
    EXPECT_EQ(S_OK, Build(graph_, L"\\\\?\\usb#second"));
    EXPECT_EQ(2u, created.Count(CLSID_FilterGraph));
    EXPECT_EQ(1u, created.StillHeld(&CLSID_FilterGraph));
    EXPECT_EQ(2u, builders.Count(CLSID_CaptureGraphBuilder2));
}

TEST_F(GraphTest, AlternativeChainsNeedTheirFilters) {
    ASSERT_EQ(S_OK, graph_.SelectDevice(kPath, L"0", false));
    EXPECT_EQ(REGDB_E_CLASSNOTREG, graph_.BuildDecompressorChain());  // no IR output filter
    {
        const auto irOut = PassThrough(kClsidIrOut);
        CMtxGraph graph;
        ASSERT_EQ(S_OK, graph.SelectDevice(kPath, L"0", false));
        EXPECT_EQ(S_OK, graph.BuildDecompressorChain());
    }
    ScopedClassOverride missing(CLSID_DVVidDec, {});
    CMtxGraph graph;
    ASSERT_EQ(S_OK, graph.SelectDevice(kPath, L"0", false));
    EXPECT_EQ(REGDB_E_CLASSNOTREG, graph.BuildDVChain());
}

// The graph owns the grabber's callback object: it answers for its interfaces without
// counting, and hands the sample's own buffer on, uncopied and unreferenced; samples without a
// buffer or a stream are dropped.
TEST_F(GraphTest, TheCallbackCountsNothingAndHandsTheSampleBufferOn) {
    RecordingStream stream;
    CMyGrabCB callback(&graph_);
    void* object = nullptr;
    for (REFIID iid : {IID_ISampleGrabberCB, IID_IUnknown}) {
        EXPECT_EQ(S_OK, callback.QueryInterface(iid, &object));
        EXPECT_EQ(static_cast<ISampleGrabberCB*>(&callback), object);
    }
    EXPECT_EQ(E_NOINTERFACE, callback.QueryInterface(IID_IMediaSample, &object));
    EXPECT_EQ(std::tuple(1u, 1u), std::tuple(callback.AddRef(), callback.Release()));
    EXPECT_EQ(E_NOTIMPL, callback.BufferCB(0.0, nullptr, 0));
    std::vector<BYTE> buffer(64);
    auto sample = zrf::com::MakeCom<zrf::dshow::MediaSample>(buffer.data(), 64);
    sample->SetActualDataLength(40);
    EXPECT_EQ(S_OK, callback.SampleCB(0.0, sample.Get()));  // no stream yet
    graph_.AttachStream(&stream);
    const ULONG references = ReferencesOf(sample.Get());
    EXPECT_EQ(S_OK, callback.SampleCB(0.0, sample.Get()));
    EXPECT_EQ(std::tuple(1, buffer.data(), 40),
              std::tuple(stream.samples, stream.lastBuffer, stream.lastLength));
    EXPECT_EQ(references, ReferencesOf(sample.Get()));
    sample->SetBufferUnavailable(true);
    EXPECT_EQ(S_OK, callback.SampleCB(0.0, sample.Get()));
    EXPECT_EQ(1, stream.samples);
}

// Teardown lets go of every platform object, every format block and the capture source, and
// asks once for unused libraries to be unloaded, even for a graph never selected.
TEST(TeardownTest, ReleasesEveryObjectAndFormatBlock) {
    const auto transform = PassThrough(kClsidVornTransform);
    const auto irOut = PassThrough(kClsidIrOut);
    DevicePtr device = AddDevice(zrf::sim::UsbIrPreset());
    const long blocks = zrf::com::TaskAllocatorLiveCount();
    const long unloads = zrf::com::ClassRegistry::FreeUnusedLibrariesCalls();
    { CMtxGraph never; }
    EXPECT_EQ(unloads + 1, zrf::com::ClassRegistry::FreeUnusedLibrariesCalls());
    {
        // The graph itself is not held (it would keep its filters); the capture source tells.
        CreatedObjects created({CLSID_SampleGrabber, CLSID_NullRenderer, CLSID_VideoRenderer,
                                CLSID_AVIDec, CLSID_DVVidDec, kClsidVornTransform, kClsidIrOut});
        auto graph = std::make_unique<CMtxGraph>();
        ASSERT_EQ(S_OK, graph->SelectDevice(device->Settings().device_path, L"0", true));
        ASSERT_EQ(S_OK, graph->SetMediaType(kSubtypeF7M0));
        ASSERT_EQ(S_OK, graph->BuildCaptureGraph(false));
        ASSERT_EQ(S_OK, graph->SetFrameRate(15));
        // The capture pin is taken: the chain stops after adding its decompressor.
        EXPECT_EQ(E_FAIL, graph->BuildDecompressorChain());
        BYTE buffer[256] = {1};
        LONG length = 1;
        graph->ExtensionUnitTransact(buffer, &length);
        EXPECT_EQ(4u, created.StillHeld());  // no video renderer in a capture graph
        EXPECT_LT(1, device.use_count());  // the capture source holds the device
        graph.reset();
        EXPECT_EQ(0u, created.StillHeld());
    }
    EXPECT_EQ(1, device.use_count());  // no capture filter is left
    EXPECT_EQ(blocks, zrf::com::TaskAllocatorLiveCount());
    EXPECT_EQ(unloads + 2, zrf::com::ClassRegistry::FreeUnusedLibrariesCalls());
}

}  // namespace
}  // namespace CaptureTest
