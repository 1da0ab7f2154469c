#include <gtest/gtest.h>

#include "platform/com/com_object.h"
#include "platform/dshow/dshow.h"
#include "platform/dshow/transform_filters.h"

namespace {

using zrf::com::ComPtr;
using zrf::com::ScopedClassOverride;

// The maker's transform filter class: not installed unless a test installs it.
DEFINE_GUID(kTransformClass, 0xCC8636CA, 0x4AEE, 0x4483, 0x9A, 0xFC, 0xFC, 0x86, 0xE2, 0x6E, 0x03,
            0xC2);

TEST(ClassRegistry, CreatesThePlatformClasses) {
    for (const CLSID* clsid :
         {&CLSID_SystemDeviceEnum, &CLSID_FilterGraph, &CLSID_CaptureGraphBuilder2,
          &CLSID_SampleGrabber, &CLSID_NullRenderer, &CLSID_VideoRenderer, &CLSID_AVIDec,
          &CLSID_DVVidDec}) {
        ComPtr<IUnknown> object;
        EXPECT_EQ(S_OK, CoCreateInstance(*clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                         object.ReceiveVoid()));
        EXPECT_TRUE(object);
    }
}

TEST(ClassRegistry, AnswersWithTheRequestedInterfaceOnly) {
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(E_NOINTERFACE, CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_ISampleGrabber, filter.ReceiveVoid()));
    EXPECT_FALSE(filter);
}

TEST(ClassRegistry, RefusesAggregationAndOutOfProcessServers) {
    ComPtr<IUnknown> outer;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                     outer.ReceiveVoid()));
    ComPtr<IUnknown> object;
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              CoCreateInstance(CLSID_NullRenderer, outer.Get(), CLSCTX_INPROC_SERVER, IID_IUnknown,
                               object.ReceiveVoid()));
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_NullRenderer, nullptr, 0x4, IID_IUnknown,
                                                    object.ReceiveVoid()));
}

TEST(ClassRegistry, AScopeRemovesAClassAndPutsItBack) {
    {
        ScopedClassOverride removed(CLSID_SampleGrabber, {});
        ComPtr<IBaseFilter> grabber;
        EXPECT_EQ(REGDB_E_CLASSNOTREG,
                  CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, grabber.ReceiveVoid()));
        EXPECT_FALSE(grabber);
    }
    ComPtr<IBaseFilter> grabber;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IBaseFilter, grabber.ReceiveVoid()));
}

TEST(ClassRegistry, AScopeReplacesAClassWithAFailingOne) {
    ScopedClassOverride failing(CLSID_VideoRenderer, [](REFIID, void**) { return E_OUTOFMEMORY; });
    ComPtr<IBaseFilter> renderer;
    EXPECT_EQ(E_OUTOFMEMORY, CoCreateInstance(CLSID_VideoRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_IBaseFilter, renderer.ReceiveVoid()));
}

TEST(ClassRegistry, TheMakersFiltersExistOnlyWhenATestInstallsThem) {
    ComPtr<IBaseFilter> transform;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(kTransformClass, nullptr, CLSCTX_INPROC_SERVER,
                                                    IID_IBaseFilter, transform.ReceiveVoid()));
    {
        ScopedClassOverride installed(kTransformClass,
                                      zrf::dshow::PassThroughFilterFactory(kTransformClass));
        ASSERT_EQ(S_OK, CoCreateInstance(kTransformClass, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IBaseFilter, transform.ReceiveVoid()));
        CLSID reported{};
        transform->GetClassID(&reported);
        EXPECT_EQ(kTransformClass, reported);
    }
    ComPtr<IBaseFilter> again;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(kTransformClass, nullptr, CLSCTX_INPROC_SERVER,
                                                    IID_IBaseFilter, again.ReceiveVoid()));
}

TEST(ClassRegistry, CountsRequestsToUnloadLibraries) {
    long before = zrf::com::ClassRegistry::FreeUnusedLibrariesCalls();
    CoFreeUnusedLibraries();
    EXPECT_EQ(before + 1, zrf::com::ClassRegistry::FreeUnusedLibrariesCalls());
}

}  // namespace
