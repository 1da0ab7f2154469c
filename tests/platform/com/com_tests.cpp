// What the plug-in's tests take for granted from the platform stand-in: reference counting,
// the task allocator's live count, and the class registry.
#include <gtest/gtest.h>

#include "platform/com/com_object.h"
#include "platform/dshow/dshow.h"

namespace {

using zrf::com::ComPtr;
using zrf::com::ScopedClassOverride;
using zrf::com::TaskAllocatorLiveCount;

DEFINE_GUID(IID_ITestWidget, 0x1E2D3C4B, 0x5A69, 0x4788, 0x96, 0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0,
            0x01);

struct ITestWidget : public IUnknown {};

class Widget final : public zrf::com::ComObject<ITestWidget> {
  public:
    explicit Widget(bool* destroyed) : destroyed_(destroyed) {}
    ~Widget() override { *destroyed_ = true; }

  protected:
    void* FindInterface(REFIID riid) override {
        return riid == IID_ITestWidget ? static_cast<ITestWidget*>(this) : nullptr;
    }

  private:
    bool* destroyed_;
};

TEST(ComObject, LivesExactlyAsLongAsItsReferences) {
    bool destroyed = false;
    auto widget = zrf::com::MakeCom<Widget>(&destroyed);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, widget->QueryInterface(IID_IBaseFilter, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, widget->QueryInterface(IID_ITestWidget, nullptr));
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(S_OK, widget.As(IID_IUnknown, unknown));
    ComPtr<ITestWidget> copy(widget.Get());
    ComPtr<ITestWidget> moved = std::move(copy);
    EXPECT_EQ(nullptr, copy.Get());
    EXPECT_EQ(4u, widget->AddRef());
    EXPECT_EQ(3u, widget->Release());
    widget.Reset();
    unknown.Reset();
    EXPECT_FALSE(destroyed);
    // An out parameter slot drops what it held before it is filled.
    bool second_destroyed = false;
    *moved.Receive() = new Widget(&second_destroyed);
    EXPECT_TRUE(destroyed);
    moved = nullptr;
    EXPECT_TRUE(second_destroyed);
    ComPtr<ITestWidget> target;
    EXPECT_EQ(E_POINTER, unknown.As(IID_ITestWidget, target));
}

// The capture tests' leak checks rely on this count.
TEST(TaskAllocator, CountsLiveBlocks) {
    const long blocks = TaskAllocatorLiveCount();
    void* a = CoTaskMemAlloc(16);
    void* b = CoTaskMemAlloc(0);
    ASSERT_TRUE(a != nullptr && b != nullptr && a != b);
    EXPECT_EQ(blocks + 2, TaskAllocatorLiveCount());
    CoTaskMemFree(a);
    CoTaskMemFree(b);
    CoTaskMemFree(nullptr);
    EXPECT_EQ(blocks, TaskAllocatorLiveCount());
}

HRESULT Create(REFCLSID clsid, IUnknown* outer = nullptr, REFIID iid = IID_IBaseFilter,
               DWORD context = CLSCTX_INPROC_SERVER) {
    ComPtr<IUnknown> object;
    const HRESULT hr = CoCreateInstance(clsid, outer, context, iid, object.ReceiveVoid());
    EXPECT_EQ(SUCCEEDED(hr), static_cast<bool>(object));
    return hr;
}

TEST(ClassRegistry, CreatesWhatIsRegisteredWhileAScopeSaysSo) {
    EXPECT_EQ(E_NOINTERFACE, Create(CLSID_NullRenderer, nullptr, IID_ISampleGrabber));
    ComPtr<IUnknown> outer;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                     outer.ReceiveVoid()));
    EXPECT_EQ(CLASS_E_NOAGGREGATION, Create(CLSID_NullRenderer, outer.Get()));
    EXPECT_EQ(REGDB_E_CLASSNOTREG, Create(CLSID_NullRenderer, nullptr, IID_IBaseFilter, 0x4));
    {
        ScopedClassOverride removed(CLSID_SampleGrabber, {});
        EXPECT_EQ(REGDB_E_CLASSNOTREG, Create(CLSID_SampleGrabber));
        ScopedClassOverride failing(CLSID_VideoRenderer, [](REFIID, void**) { return E_FAIL; });
        EXPECT_EQ(E_FAIL, Create(CLSID_VideoRenderer));
    }
    EXPECT_EQ(S_OK, Create(CLSID_SampleGrabber));
    EXPECT_EQ(S_OK, Create(CLSID_VideoRenderer));
}

}  // namespace
