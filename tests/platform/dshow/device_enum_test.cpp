// The system device enumerator as the platform's works: a moniker binds to the class its bag's
// "CLSID" names and loads the new object from the bag, and values written through one moniker
// of a device are read back through every other, each as the type it was written.
#include <gtest/gtest.h>

#include <optional>

#include "platform/dshow/dshow.h"
#include "platform/dshow/video_input_devices.h"
#include "sim/video/listed_capture_filter.h"
#include "sim/video/simulated_video_device.h"
#include "tests/platform/dshow/probe_filters.h"

namespace PlatformTest {
namespace {

using zrf::com::ComPtr;
using zrf::com::MakeCom;
using zrf::com::ScopedClassOverride;
using zrf::dshow::VideoInputDevice;
using zrf::dshow::VideoInputDevices;

DEFINE_GUID(CLSID_LoadedProbe, 0x7D1F0C55, 0x3B8E, 0x4A61, 0x9E, 0x27, 0x5C, 0x40, 0x81, 0xD3, 0x6A,
            0x19);
DEFINE_GUID(kNoClass, 0x7D1F0C56, 0x3B8E, 0x4A61, 0x9E, 0x27, 0x5C, 0x40, 0x81, 0xD3, 0x6A, 0x19);

// A filter that keeps what its bag told it when it was loaded.
class LoadedProbe final : public zrf::dshow::FilterBase, public IPersistPropertyBag {
  public:
    LoadedProbe() : FilterBase(CLSID_LoadedProbe) {}
    ZRF_COM_FORWARD_UNKNOWN(zrf::dshow::FilterBase)
    HRESULT GetClassID(CLSID* clsid) override { return FilterBase::GetClassID(clsid); }
    HRESULT InitNew() override { return S_OK; }
    HRESULT Load(IPropertyBag* bag, IErrorLog*) override {
        ++loads;
        VARIANT text{}, number{};
        if (SUCCEEDED(bag->Read(L"Preset", &text, nullptr)) && text.vt == VT_BSTR) {
            preset = text.bstrVal;
        }
        VariantClear(&text);
        if (SUCCEEDED(bag->Read(L"Seed", &number, nullptr)) && number.vt == VT_I4) {
            seed = number.lVal;
        }
        return load_result;
    }
    HRESULT Save(IPropertyBag*, BOOL, BOOL) override { return E_NOTIMPL; }
    HRESULT CheckMediaType(const zrf::dshow::PinBase&, const AM_MEDIA_TYPE&) override {
        return S_OK;
    }

    int loads = 0;
    std::wstring preset;
    LONG seed = 0;
    static inline HRESULT load_result = S_OK;

  protected:
    void* FindInterface(REFIID riid) override {
        if (riid == IID_IPersistPropertyBag) return static_cast<IPersistPropertyBag*>(this);
        return FilterBase::FindInterface(riid);
    }
};

// The one listed device of the test, and the monikers of the category.
class DeviceEnumTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (auto id : listed_) VideoInputDevices::Remove(id);
        LoadedProbe::load_result = S_OK;
    }
    VideoInputDevices::Id List(VideoInputDevice device) {
        listed_.push_back(VideoInputDevices::Add(std::move(device)));
        return listed_.back();
    }
    VideoInputDevice Probe() {
        auto device = VideoInputDevice::Of(CLSID_LoadedProbe, L"Probe", L"\\\\?\\probe", L"@probe");
        device.values[L"Preset"] = std::wstring(L"usb-ir");
        device.values[L"Seed"] = LONG{7};
        return device;
    }
    // The moniker of the device with this display name, from a fresh enumeration.
    ComPtr<IMoniker> MonikerOf(const std::wstring& display_name) {
        ComPtr<ICreateDevEnum> devices;
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_ICreateDevEnum, devices.ReceiveVoid()));
        ComPtr<IEnumMoniker> monikers;
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0);
        ComPtr<IMoniker> moniker;
        while (monikers && monikers->Next(1, moniker.Receive(), nullptr) == S_OK) {
            LPOLESTR name = nullptr;
            moniker->GetDisplayName(nullptr, nullptr, &name);
            const bool found = name != nullptr && display_name == name;
            CoTaskMemFree(name);
            if (found) return moniker;
        }
        return nullptr;
    }
    ComPtr<IPropertyBag> BagOf(const std::wstring& display_name) {
        ComPtr<IPropertyBag> bag;
        EXPECT_EQ(S_OK, MonikerOf(display_name)->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                                               bag.ReceiveVoid()));
        return bag;
    }

    ScopedClassOverride probeClass_{CLSID_LoadedProbe, [](REFIID riid, void** ppv) {
                                        auto probe = MakeCom<LoadedProbe>();
                                        return static_cast<IBaseFilter*>(probe.Get())
                                            ->QueryInterface(riid, ppv);
                                    }};
    std::vector<VideoInputDevices::Id> listed_;
};

TEST_F(DeviceEnumTest, AMonikerBindsTheClassItsBagNamesAndLoadsItFromTheBag) {
    List(Probe());
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, MonikerOf(L"@probe")->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                       filter.ReceiveVoid()));
    auto* probe = static_cast<LoadedProbe*>(static_cast<zrf::dshow::FilterBase*>(filter.Get()));
    EXPECT_EQ(1, probe->loads);
    EXPECT_EQ(L"usb-ir", probe->preset);
    EXPECT_EQ(7, probe->seed);
}

struct BindRow {
    const char* what;
    std::optional<zrf::dshow::DeviceValue> clsid;  // none: no "CLSID" value
    HRESULT load;
    HRESULT code;
};

TEST_F(DeviceEnumTest, BindFailuresKeepTheirCodes) {
    OLECHAR probe[40] = {}, unregistered[40] = {};
    StringFromGUID2(CLSID_LoadedProbe, probe, 40);
    StringFromGUID2(kNoClass, unregistered, 40);
    const BindRow rows[] = {
        {"no class", std::nullopt, S_OK, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {"class as a number", LONG{1}, S_OK, E_INVALIDARG},
        {"class text of another form", std::wstring(L"LoadedProbe"), S_OK, CO_E_CLASSSTRING},
        {"class text cut short", std::wstring(probe).substr(0, 37), S_OK, CO_E_CLASSSTRING},
        {"class not registered", std::wstring(unregistered), S_OK, REGDB_E_CLASSNOTREG},
        {"load fails", std::wstring(probe), HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED),
         HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)},
        {"bound", std::wstring(probe), S_OK, S_OK},
    };
    for (const BindRow& row : rows) {
        SCOPED_TRACE(row.what);
        VideoInputDevice device = Probe();
        device.display_name = L"@row";
        device.values.erase(L"CLSID");
        if (row.clsid) device.values[L"CLSID"] = *row.clsid;
        const auto id = List(std::move(device));
        LoadedProbe::load_result = row.load;
        ComPtr<IBaseFilter> filter;
        EXPECT_EQ(row.code, MonikerOf(L"@row")->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                             filter.ReceiveVoid()));
        EXPECT_EQ(SUCCEEDED(row.code), static_cast<bool>(filter));
        VideoInputDevices::Remove(id);
    }
}

// A filter that cannot be loaded from a bag is bound without one.
TEST_F(DeviceEnumTest, AnObjectWithoutAPropertyBagInterfaceIsBoundAsItIs) {
    ScopedClassOverride plain(CLSID_ProbeFilter, [](REFIID riid, void** ppv) {
        auto filter = MakeCom<ProbeFilter>(L"plain", false);
        return static_cast<IBaseFilter*>(filter.Get())->QueryInterface(riid, ppv);
    });
    List(VideoInputDevice::Of(CLSID_ProbeFilter, L"Plain", std::nullopt, L"@plain"));
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(S_OK, MonikerOf(L"@plain")->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                       filter.ReceiveVoid()));
}

struct ReadRow {
    const wchar_t* name;
    VARTYPE asked;
    HRESULT code;
    VARTYPE got;
};

// Written values come back through another moniker of the device, each as its own type.
TEST_F(DeviceEnumTest, ABagsValuesAreWrittenForEveryMonikerOfTheDevice) {
    List(Probe());
    ComPtr<IPropertyBag> writer = BagOf(L"@probe");
    VARIANT text{};
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"fw-ir");
    EXPECT_EQ(S_OK, writer->Write(L"Preset", &text));
    VariantClear(&text);
    VARIANT number{};
    number.vt = VT_I4;
    number.lVal = 4;
    EXPECT_EQ(S_OK, writer->Write(L"WindowingFields", &number));
    VARIANT empty{};
    EXPECT_EQ(E_INVALIDARG, writer->Write(L"Nothing", &empty));

    ComPtr<IPropertyBag> reader = BagOf(L"@probe");
    const ReadRow rows[] = {
        {L"Preset", VT_EMPTY, S_OK, VT_BSTR},
        {L"Preset", VT_BSTR, S_OK, VT_BSTR},
        {L"Preset", VT_I4, E_INVALIDARG, VT_I4},
        {L"WindowingFields", VT_EMPTY, S_OK, VT_I4},
        {L"WindowingFields", VT_BSTR, E_INVALIDARG, VT_BSTR},
        {L"Nothing", VT_EMPTY, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), VT_EMPTY},
    };
    for (const ReadRow& row : rows) {
        SCOPED_TRACE(std::wstring(row.name) + L" " + std::to_wstring(row.asked));
        VARIANT value{};
        value.vt = row.asked;
        EXPECT_EQ(row.code, reader->Read(row.name, &value, nullptr));
        EXPECT_EQ(row.got, value.vt);
        if (SUCCEEDED(row.code) && value.vt == VT_BSTR) {
            EXPECT_STREQ(L"fw-ir", value.bstrVal);
        }
        if (SUCCEEDED(row.code) && value.vt == VT_I4) {
            EXPECT_EQ(4, value.lVal);
        }
        if (SUCCEEDED(row.code)) VariantClear(&value);
    }
    ComPtr<IUnknown> storage;
    EXPECT_EQ(MK_E_NOSTORAGE, MonikerOf(L"@probe")->BindToStorage(nullptr, nullptr, IID_IUnknown,
                                                                  storage.ReceiveVoid()));
}

// A simulated device's filter learns its device from the bag: no pin before it is loaded, one
// load only, and none for a device that is gone.
TEST_F(DeviceEnumTest, ASimulatedDevicesFilterIsLoadedFromItsBag) {
    zrf::sim::VideoDeviceSettings settings;
    settings.device_path = L"\\\\?\\usb#listed";
    settings.friendly_name = L"Listed";
    settings.display_name = L"@listed";
    settings.formats = {{MEDIASUBTYPE_YUY2, 64, 48, 16, 0, {333333}}};
    auto device = zrf::sim::SimulatedVideoDevice::Create(settings);
    ComPtr<IMoniker> moniker = MonikerOf(L"@listed");
    ASSERT_TRUE(moniker);
    ComPtr<IPropertyBag> bag = BagOf(L"@listed");

    auto unloaded = MakeCom<zrf::sim::ListedCaptureFilter>();
    EXPECT_EQ(0u, unloaded->PinCount());
    EXPECT_EQ(S_OK, unloaded->Load(bag.Get(), nullptr));
    EXPECT_EQ(1u, unloaded->PinCount());
    EXPECT_EQ(E_UNEXPECTED, unloaded->Load(bag.Get(), nullptr));

    ComPtr<IBaseFilter> bound;
    ASSERT_EQ(S_OK, moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, bound.ReceiveVoid()));
    ComPtr<IPin> pin;
    EXPECT_EQ(S_OK, bound->FindPin(L"Capture", pin.Receive()));

    // A bag naming no device of this process, and the bag of a device unplugged since.
    VideoInputDevice stray = Probe();
    stray.display_name = L"@stray";
    stray.values[zrf::sim::kDeviceInstanceValue] = LONG{-5};
    List(std::move(stray));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED),
              MakeCom<zrf::sim::ListedCaptureFilter>()->Load(BagOf(L"@stray").Get(), nullptr));
    device->Disappear();
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
              MakeCom<zrf::sim::ListedCaptureFilter>()->Load(bag.Get(), nullptr));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
              moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, bound.ReceiveVoid()));
}

}  // namespace
}  // namespace PlatformTest
