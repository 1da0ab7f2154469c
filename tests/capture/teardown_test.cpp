// Teardown lets go of everything: platform objects, format blocks, the capture source.
#include <gtest/gtest.h>

#include "capture/capture_ids.h"
#include "imaging/media_subtypes.h"
#include "platform/com/task_allocator.h"
#include "platform/dshow/transform_filters.h"
#include "tests/capture/capture_fixture.h"

namespace CaptureTest {
namespace {

// Filters, held by the test to see whether anyone else still does. The graph itself is not
// held (it would keep its filters); the capture source tells whether it went.
const std::vector<CLSID> kFilterClasses = {
    CLSID_SampleGrabber,      CLSID_NullRenderer,
    CLSID_VideoRenderer,      CLSID_AVIDec,
    CLSID_DVVidDec,           zrf::capture::kClsidVornTransform,
    zrf::capture::kClsidIrOut};

TEST(TeardownTest, ReleasesEveryObjectAndFormatBlock) {
    zrf::com::ScopedClassOverride transform(
        zrf::capture::kClsidVornTransform,
        zrf::dshow::PassThroughFilterFactory(zrf::capture::kClsidVornTransform));
    zrf::com::ScopedClassOverride irOut(
        zrf::capture::kClsidIrOut, zrf::dshow::PassThroughFilterFactory(zrf::capture::kClsidIrOut));
    TrackedDevice device(zrf::sim::UsbIrPreset());
    const long blocks = zrf::com::TaskAllocatorLiveCount();
    const long unloads = zrf::com::ClassRegistry::FreeUnusedLibrariesCalls();
    {
        CreatedObjects created(kFilterClasses);
        auto graph = std::make_unique<CMtxGraph>();
        ASSERT_EQ(S_OK, graph->SelectDevice(device.Path(), L"0", true));
        ASSERT_EQ(S_OK, graph->SetMediaType(kSubtypeF7M0));
        ASSERT_EQ(S_OK, graph->BuildCaptureGraph(false));
        ASSERT_EQ(S_OK, graph->SetFrameRate(15));
        // The capture pin is taken: the chain stops after adding its decompressor.
        EXPECT_EQ(E_FAIL, graph->BuildDecompressorChain());
        BYTE buffer[256] = {1};
        LONG length = 1;
        graph->ExtensionUnitTransact(buffer, &length);
        EXPECT_EQ(5u, created.StillHeld());
        graph.reset();
        EXPECT_EQ(0u, created.StillHeld());
    }
    ASSERT_FALSE(device.Filters().empty());
    for (const auto& filter : device.Filters()) EXPECT_EQ(1u, ReferencesOf(filter.Get()));
    EXPECT_EQ(blocks, zrf::com::TaskAllocatorLiveCount());
    EXPECT_EQ(unloads + 1, zrf::com::ClassRegistry::FreeUnusedLibrariesCalls());
}

TEST(TeardownTest, NeverSelectedObjectFreesNothing) {
    const long blocks = zrf::com::TaskAllocatorLiveCount();
    const long unloads = zrf::com::ClassRegistry::FreeUnusedLibrariesCalls();
    { CMtxGraph graph; }
    EXPECT_EQ(blocks, zrf::com::TaskAllocatorLiveCount());
    EXPECT_EQ(unloads + 1, zrf::com::ClassRegistry::FreeUnusedLibrariesCalls());
}

TEST(TeardownTest, SerialLookupReleasesTheFilterItBinds) {
    TrackedDevice device(zrf::sim::UsbIrJlsPreset());
    CMtxGraph graph;
    ComPtr<IMoniker> moniker;
    {
        ComPtr<ICreateDevEnum> devices;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_ICreateDevEnum, devices.ReceiveVoid()));
        ComPtr<IEnumMoniker> monikers;
        ASSERT_EQ(S_OK, devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory,
                                                       monikers.Receive(), 0));
        while (monikers->Next(1, moniker.Receive(), nullptr) == S_OK) {
            LPOLESTR name = nullptr;
            moniker->GetDisplayName(nullptr, nullptr, &name);
            const bool ours = std::wstring(name).find(L"#tracked") != std::wstring::npos;
            CoTaskMemFree(name);
            if (ours) break;
        }
    }
    ASSERT_TRUE(moniker);
    EXPECT_EQ(0x0012D687, graph.ReadDeviceSerial(moniker.Get()));
    ASSERT_EQ(1u, device.Filters().size());
    EXPECT_EQ(1u, ReferencesOf(device.Filters()[0].Get()));
}

}  // namespace
}  // namespace CaptureTest
