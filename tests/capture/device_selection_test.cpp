// Device selection, the stream chain and their failure codes on a misbehaving platform.
#include <gtest/gtest.h>

#include "capture/capture_ids.h"
#include "host/logging/logger.h"
#include "imaging/media_subtypes.h"
#include "platform/dshow/transform_filters.h"
#include "tests/capture/capture_fixture.h"

namespace CaptureTest {
namespace {

using Vorn::Zephra::Diagnostics::Log::LogCapture;
using zrf::com::ScopedClassOverride;

const std::wstring kPath = L"\\\\?\\usb#vid_aaaa&pid_0001#1&2&3#{65e8773d}\\global";

std::vector<zrf::sim::VideoFormat> F7M0Only() {
    return {{kSubtypeF7M0, 640, 483, 16, 0, {333333}}};
}

// Whether any input pin of the filter is connected.
bool InputConnected(IUnknown* object) {
    ComPtr<IBaseFilter> filter;
    if (FAILED(object->QueryInterface(IID_IBaseFilter, filter.ReceiveVoid()))) return false;
    ComPtr<IEnumPins> pins;
    filter->EnumPins(pins.Receive());
    IPin* pin = nullptr;
    bool connected = false;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        auto held = ComPtr<IPin>::Attach(pin);
        PIN_DIRECTION direction;
        held->QueryDirection(&direction);
        ComPtr<IPin> peer;
        if (direction == PINDIR_INPUT && SUCCEEDED(held->ConnectedTo(peer.Receive())))
            connected = true;
    }
    return connected;
}

class DeviceSelectionTest : public ::testing::Test {
  protected:
    DevicePtr device_ = AddDevice(PlainDevice(kPath, F7M0Only()));
    CMtxGraph graph_;
};

TEST_F(DeviceSelectionTest, FindsTheDeviceIgnoringLetterCase) {
    std::wstring upper = kPath;
    for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
    EXPECT_EQ(S_OK, graph_.SelectDevice(upper, L"0", false));
    EXPECT_TRUE(graph_.IsMediaTypeAvailable(kSubtypeF7M0));
}

TEST_F(DeviceSelectionTest, EmptyCategoryFailsWithoutCreatingAGraph) {
    CreatedObjects created({CLSID_FilterGraph, CLSID_CaptureGraphBuilder2});
    zrf::dshow::ScopedEmptyVideoInputCategory empty;
    EXPECT_EQ(E_FAIL, graph_.SelectDevice(kPath, L"0", false));
    EXPECT_EQ(0u, created.Count(CLSID_FilterGraph));
    EXPECT_EQ(E_FAIL, graph_.BuildCaptureGraph(false));
}

TEST_F(DeviceSelectionTest, NoMatchingDeviceFailsAndFillsNoSlot) {
    CreatedObjects created({CLSID_FilterGraph});
    EXPECT_EQ(E_FAIL, graph_.SelectDevice(L"\\\\?\\usb#other", L"0", false));
    EXPECT_EQ(0u, created.Count(CLSID_FilterGraph));
    EXPECT_FALSE(graph_.IsMediaTypeAvailable(kSubtypeF7M0));
}

TEST_F(DeviceSelectionTest, DeviceWithoutDevicePathIsSkippedAndTheNextOneFound) {
    // Listed first, same path but no "DevicePath" in its bag, and another format.
    auto settings = PlainDevice(kPath, {{kSubtypeF7M2, 640, 480, 16, 0, {333333}}});
    settings.should_omit_device_path = true;
    device_.reset();
    DevicePtr hidden = AddDevice(settings);
    DevicePtr listed = AddDevice(PlainDevice(kPath, F7M0Only()));
    EXPECT_EQ(S_OK, graph_.SelectDevice(kPath, L"0", false));
    EXPECT_TRUE(graph_.IsMediaTypeAvailable(kSubtypeF7M0));
    EXPECT_FALSE(graph_.IsMediaTypeAvailable(kSubtypeF7M2));
}

TEST_F(DeviceSelectionTest, EachMissingPlatformClassFailsSelectionWithItsCode) {
    for (const CLSID& clsid :
         {CLSID_SystemDeviceEnum, CLSID_FilterGraph, CLSID_CaptureGraphBuilder2}) {
        ScopedClassOverride missing(clsid, {});
        CMtxGraph graph;
        EXPECT_EQ(REGDB_E_CLASSNOTREG, graph.SelectDevice(kPath, L"0", false));
        EXPECT_FALSE(graph.IsMediaTypeAvailable(kSubtypeF7M0));
    }
}

TEST_F(DeviceSelectionTest, AFailingBindReturnsTheBindCode) {
    zrf::dshow::VideoInputDevice broken;
    broken.friendly_name = L"Broken";
    broken.device_path = L"\\\\?\\usb#broken";
    broken.create_filter = [](IBaseFilter** filter) {
        *filter = nullptr;
        return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    };
    auto id = zrf::dshow::VideoInputDevices::Add(broken);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED),
              graph_.SelectDevice(L"\\\\?\\USB#BROKEN", L"0", false));
    zrf::dshow::VideoInputDevices::Remove(id);
}

TEST_F(DeviceSelectionTest, BuildsWithoutTheMakersTransform) {
    ASSERT_EQ(S_OK, graph_.SelectDevice(kPath, L"0", true));
    ASSERT_EQ(S_OK, graph_.SetMediaType(kSubtypeF7M0));
    EXPECT_EQ(S_OK, graph_.BuildCaptureGraph(false));
    EXPECT_FALSE(graph_.TransformPresent());
}

TEST_F(DeviceSelectionTest, PreviewGoesThroughTheTransformWhenItIsThere) {
    ScopedClassOverride transform(
        zrf::capture::kClsidVornTransform,
        zrf::dshow::PassThroughFilterFactory(zrf::capture::kClsidVornTransform));
    CreatedObjects created({zrf::capture::kClsidVornTransform, CLSID_VideoRenderer});
    ASSERT_EQ(S_OK, graph_.SelectDevice(kPath, L"0", false));
    ASSERT_EQ(S_OK, graph_.SetMediaType(kSubtypeF7M0));
    EXPECT_EQ(S_OK, graph_.BuildCaptureGraph(true));
    EXPECT_TRUE(graph_.TransformPresent());
    ASSERT_EQ(1u, created.Count(zrf::capture::kClsidVornTransform));
    EXPECT_TRUE(InputConnected(created.First(zrf::capture::kClsidVornTransform)));
}

TEST_F(DeviceSelectionTest, MissingSampleGrabberIsLoggedForTheUserAndFailsTheBuild) {
    ScopedClassOverride missing(CLSID_SampleGrabber, {});
    LogCapture log;
    ASSERT_EQ(S_OK, graph_.SelectDevice(kPath, L"0", false));
    ASSERT_EQ(S_OK, graph_.SetMediaType(kSubtypeF7M0));
    EXPECT_EQ(REGDB_E_CLASSNOTREG, graph_.BuildCaptureGraph(false));
    auto errors = log.UserErrors();
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ("CAMERA_UNKNOWN_ERROR", errors[0].key);
    EXPECT_EQ(
        "Could not create sample grabber filter.\nPlease make sure that you have DirectX\n"
        "version 8.1 or higher installed on your computer.\n",
        errors[0].text);
    EXPECT_EQ(std::vector<std::string>{"0x80040154"}, errors[0].arguments);
}

TEST_F(DeviceSelectionTest, MissingVideoRendererFailsTheBuildButMissingNullRendererDoesNot) {
    {
        ScopedClassOverride missing(CLSID_VideoRenderer, {});
        CMtxGraph graph;
        ASSERT_EQ(S_OK, graph.SelectDevice(kPath, L"0", false));
        ASSERT_EQ(S_OK, graph.SetMediaType(kSubtypeF7M0));
        EXPECT_EQ(REGDB_E_CLASSNOTREG, graph.BuildCaptureGraph(false));
    }
    ScopedClassOverride missing(CLSID_NullRenderer, {});
    ASSERT_EQ(S_OK, graph_.SelectDevice(kPath, L"0", false));
    ASSERT_EQ(S_OK, graph_.SetMediaType(kSubtypeF7M0));
    EXPECT_EQ(S_OK, graph_.BuildCaptureGraph(false));
}

TEST_F(DeviceSelectionTest, MissingDroppedFrameInterfaceFailsTheBuildWithTheLookupCode) {
    auto settings = PlainDevice(L"\\\\?\\usb#nodrop", F7M0Only());
    settings.should_omit_dropped_frames = true;
    DevicePtr device = AddDevice(settings);
    ASSERT_EQ(S_OK, graph_.SelectDevice(L"\\\\?\\usb#nodrop", L"0", false));
    ASSERT_EQ(S_OK, graph_.SetMediaType(kSubtypeF7M0));
    EXPECT_EQ(E_FAIL, graph_.BuildCaptureGraph(false));
    LONG dropped = -1;
    EXPECT_EQ(E_FAIL, graph_.GetDroppedFrames(&dropped));
    EXPECT_EQ(0, dropped);
}

TEST_F(DeviceSelectionTest, DroppedFramesComeFromTheCapturePin) {
    device_->SetDroppedFrames(5);
    ASSERT_EQ(S_OK, graph_.SelectDevice(kPath, L"0", false));
    ASSERT_EQ(S_OK, graph_.SetMediaType(kSubtypeF7M0));
    ASSERT_EQ(S_OK, graph_.BuildCaptureGraph(false));
    LONG dropped = -1;
    EXPECT_EQ(S_OK, graph_.GetDroppedFrames(&dropped));
    EXPECT_EQ(5, dropped);
}

TEST_F(DeviceSelectionTest, WithoutAGraphRunAndStopFail) {
    EXPECT_EQ(E_FAIL, graph_.Run());
    EXPECT_EQ(E_FAIL, graph_.Stop());
    EXPECT_EQ(E_FAIL, graph_.BuildDecompressorChain());
    EXPECT_EQ(E_FAIL, graph_.BuildDVChain());
}

TEST_F(DeviceSelectionTest, AFailingRunLeavesTheGraphStopped) {
    auto settings = PlainDevice(L"\\\\?\\usb#busy", F7M0Only());
    settings.should_fail_run_with = HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES);
    DevicePtr busy = AddDevice(settings);
    CreatedObjects created({CLSID_FilterGraph});
    ASSERT_EQ(S_OK, graph_.SelectDevice(L"\\\\?\\usb#busy", L"0", false));
    ASSERT_EQ(S_OK, graph_.SetMediaType(kSubtypeF7M0));
    ASSERT_EQ(S_OK, graph_.BuildCaptureGraph(false));
    EXPECT_EQ(MakeHResult(0x800705AAu), graph_.Run());
    ComPtr<IMediaControl> control;
    ASSERT_EQ(1u, created.Count(CLSID_FilterGraph));
    ASSERT_EQ(
        S_OK,
        created.First(CLSID_FilterGraph)->QueryInterface(IID_IMediaControl, control.ReceiveVoid()));
    OAFilterState state = State_Running;
    control->GetState(0, &state);
    EXPECT_EQ(State_Stopped, state);
}

TEST_F(DeviceSelectionTest, SelectingTwiceReleasesTheFirstGraphAndBuildsOnTheSecond) {
    CreatedObjects created({CLSID_FilterGraph});
    CreatedObjects builders({CLSID_CaptureGraphBuilder2}, false);
    DevicePtr second = AddDevice(PlainDevice(L"\\\\?\\usb#second", F7M0Only()));
    ASSERT_EQ(S_OK, graph_.SelectDevice(kPath, L"0", false));
    ASSERT_EQ(S_OK, graph_.SetMediaType(kSubtypeF7M0));
    ASSERT_EQ(S_OK, graph_.BuildCaptureGraph(false));
    ASSERT_EQ(S_OK, graph_.SelectDevice(L"\\\\?\\usb#second", L"0", false));
    ASSERT_EQ(S_OK, graph_.SetMediaType(kSubtypeF7M0));
    EXPECT_EQ(S_OK, graph_.BuildCaptureGraph(false));
    EXPECT_EQ(2u, created.Count(CLSID_FilterGraph));
    // The first graph is let go; the platform's builder keeps its first graph for life, so the
    // second graph came with a builder of its own.
    EXPECT_EQ(1u, created.StillHeld(CLSID_FilterGraph));
    EXPECT_EQ(2u, builders.Count(CLSID_CaptureGraphBuilder2));
}

TEST_F(DeviceSelectionTest, DecompressorChainNeedsTheMakersOutputFilter) {
    ASSERT_EQ(S_OK, graph_.SelectDevice(kPath, L"0", false));
    EXPECT_EQ(REGDB_E_CLASSNOTREG, graph_.BuildDecompressorChain());
    ScopedClassOverride irOut(zrf::capture::kClsidIrOut,
                              zrf::dshow::PassThroughFilterFactory(zrf::capture::kClsidIrOut));
    CMtxGraph graph;
    ASSERT_EQ(S_OK, graph.SelectDevice(kPath, L"0", false));
    EXPECT_EQ(S_OK, graph.BuildDecompressorChain());
}

TEST_F(DeviceSelectionTest, DvChainFailsAtOnceWithoutTheDecoder) {
    ScopedClassOverride missing(CLSID_DVVidDec, {});
    ASSERT_EQ(S_OK, graph_.SelectDevice(kPath, L"0", false));
    ASSERT_EQ(S_OK, graph_.SetMediaType(kSubtypeF7M0));
    EXPECT_EQ(REGDB_E_CLASSNOTREG, graph_.BuildDVChain());
}

}  // namespace
}  // namespace CaptureTest
