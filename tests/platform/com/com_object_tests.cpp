#include <gtest/gtest.h>

#include "platform/com/com_object.h"
#include "platform/dshow/dshow.h"

namespace {

using zrf::com::ComPtr;

DEFINE_GUID(IID_ITestWidget, 0x1E2D3C4B, 0x5A69, 0x4788, 0x96, 0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0,
            0x01);

struct ITestWidget : public IUnknown {
    virtual int Value() = 0;
};

class Widget final : public zrf::com::ComObject<ITestWidget> {
  public:
    explicit Widget(bool* destroyed) : destroyed_(destroyed) {}
    ~Widget() override { *destroyed_ = true; }
    int Value() override { return 42; }

  protected:
    void* FindInterface(REFIID riid) override {
        return riid == IID_ITestWidget ? static_cast<ITestWidget*>(this) : nullptr;
    }

  private:
    bool* destroyed_;
};

TEST(Guid, ComparesAllSixteenBytes) {
    GUID a = IID_IUnknown;
    GUID b = IID_IUnknown;
    EXPECT_EQ(a, b);
    b.Data4[7] ^= 1;
    EXPECT_NE(a, b);
    b = a;
    b.Data3 = 1;
    EXPECT_NE(a, b);
}

TEST(Guid, CarriesThePlatformValues) {
    // {00000000-0000-0000-C000-000000000046} and {C1F400A0-3F08-11D3-9F0B-006008039E37}
    EXPECT_EQ(0xC0, IID_IUnknown.Data4[0]);
    EXPECT_EQ(0x46, IID_IUnknown.Data4[7]);
    EXPECT_EQ(0xC1F400A0u, CLSID_SampleGrabber.Data1);
    EXPECT_EQ(0x3F08, CLSID_SampleGrabber.Data2);
    EXPECT_EQ(0x37, CLSID_SampleGrabber.Data4[7]);
    EXPECT_EQ(0x0579154Au, IID_ISampleGrabberCB.Data1);
}

TEST(HResult, CodesAndTests) {
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
    EXPECT_TRUE(FAILED(E_FAIL));
    EXPECT_EQ(static_cast<HRESULT>(0x80004005u), E_FAIL);
    EXPECT_EQ(static_cast<HRESULT>(0x800705AAu), HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES));
    EXPECT_EQ(static_cast<HRESULT>(0x80070490u), E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(S_OK, HRESULT_FROM_WIN32(0));
}

TEST(ComObject, DeletesItselfWhenTheLastReferenceGoes) {
    bool destroyed = false;
    auto* widget = new Widget(&destroyed);
    EXPECT_EQ(2u, widget->AddRef());
    EXPECT_EQ(1u, widget->Release());
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(0u, widget->Release());
    EXPECT_TRUE(destroyed);
}

TEST(ComObject, QueryInterfaceCountsAndRefusesUnknownIds) {
    bool destroyed = false;
    auto widget = zrf::com::MakeCom<Widget>(&destroyed);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, widget->QueryInterface(IID_IBaseFilter, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, widget->QueryInterface(IID_ITestWidget, nullptr));

    ComPtr<IUnknown> unknown;
    ASSERT_EQ(S_OK, widget.As(IID_IUnknown, unknown));
    ComPtr<ITestWidget> again;
    ASSERT_EQ(S_OK, unknown.As(IID_ITestWidget, again));
    EXPECT_EQ(widget.Get(), again.Get());
    EXPECT_EQ(42, again->Value());
    widget.Reset();
    unknown.Reset();
    EXPECT_FALSE(destroyed);
    again.Reset();
    EXPECT_TRUE(destroyed);
}

TEST(ComPtr, CopiesCountMovesTransferAndReceiveReleasesTheOldObject) {
    bool first_gone = false;
    bool second_gone = false;
    auto first = zrf::com::MakeCom<Widget>(&first_gone);
    ComPtr<Widget> copy = first;
    ComPtr<Widget> moved = std::move(copy);
    EXPECT_EQ(nullptr, copy.Get());
    first.Reset();
    EXPECT_FALSE(first_gone);

    // An out parameter slot drops what it held before it is filled.
    ComPtr<ITestWidget> slot(moved.Get());
    moved.Reset();
    *slot.Receive() = new Widget(&second_gone);
    EXPECT_TRUE(first_gone);
    slot = nullptr;
    EXPECT_TRUE(second_gone);
}

TEST(ComPtr, AsOnAnEmptyPointerFailsWithoutTouchingTheTarget) {
    ComPtr<IUnknown> empty;
    ComPtr<ITestWidget> out;
    EXPECT_EQ(E_POINTER, empty.As(IID_ITestWidget, out));
    EXPECT_FALSE(out);
}

}  // namespace
