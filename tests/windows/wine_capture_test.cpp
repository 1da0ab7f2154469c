// The capture graph against a real DirectShow (Wine's quartz, qcap, qedit and devenum), with the
// simulated cameras' registered source filter as the devices. The Linux suites keep the edge
// cases; these check the protocol: device selection, formats, frame rates, running and
// stopping, and the images that arrive through the grabber's callback.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

#include "capture/mtx_graph.h"
#include "platform/dshow/dshow.h"
#include "tests/windows/image_cases.h"

using namespace zrf::windows_tests;
using zrf::com::ComPtr;

namespace {

struct Camera {
    const char* preset;
    const wchar_t* path;
    GUID subtype;
    bool radiometricUsb;
    std::vector<GUID> offered;
    GUID notOffered;
    std::vector<float> rates;  // the camera's own list, or derived from the stream caps
};

// clang-format off
const Camera kCameras[] = {
    {"usb-ir", L"\\\\?\\usb#vid_2f1e&pid_0a10&mi_00#7&1c2d3e4f&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global",
     kSubtypeF7M0, true, {kSubtypeF7M0, kSubtypeMJLS, kSubtypeYUY2, kSubtypeMJPG}, kSubtypeF7M2, {30.0f, 15.0f, 7.5f}},
    {"fw-ir", L"\\\\?\\1394#4e8a&1a2b3c4d&0#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global",
     kSubtypeF7M2, false, {kSubtypeF7M2, kSubtypeF7M0}, kSubtypeYUY2, {30.0f, 15.0f}},
    {"webcam", L"\\\\?\\usb#vid_1d6b&pid_0c45&mi_00#6&2b3c4d5e&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global",
     kSubtypeYUY2, false, {kSubtypeYUY2, kSubtypeMJPG}, kSubtypeF7M0, {30.0f, 15.0f}},
};
// clang-format on

// The moniker of the registered camera that serves `preset`, and its property bag.
ComPtr<IMoniker> CameraMoniker(const char* preset, ComPtr<IPropertyBag>& bag) {
    ComPtr<ICreateDevEnum> devices;
    ComPtr<IEnumMoniker> monikers;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, devices.ReceiveVoid())) ||
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0) != S_OK)
        return {};
    const std::wstring wanted(preset, preset + std::strlen(preset));
    for (ComPtr<IMoniker> moniker; monikers->Next(1, moniker.Receive(), nullptr) == S_OK;) {
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.ReceiveVoid()))) continue;
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_BSTR;
        value.bstrVal = nullptr;  // VariantInit sets only the type before Windows 8.1
        const bool match = SUCCEEDED(bag->Read(L"Preset", &value, nullptr)) &&
                           value.vt == VT_BSTR && wanted == value.bstrVal;
        VariantClear(&value);
        if (match) return moniker;
    }
    return {};
}

// Writes a number into the property bag of the registered camera that serves `preset`: what
// its filter reads when the next bind loads the bag.
void SetCameraValue(const char* preset, const wchar_t* name, LONG number) {
    ComPtr<IPropertyBag> bag;
    ASSERT_TRUE(CameraMoniker(preset, bag)) << "no registered camera " << preset;
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = number;
    ASSERT_EQ(bag->Write(name, &value), S_OK);
}

// The registered camera that serves `preset`, bound as the capture code binds it.
ComPtr<IBaseFilter> BindCamera(const char* preset) {
    ComPtr<IPropertyBag> bag;
    ComPtr<IBaseFilter> filter;
    if (ComPtr<IMoniker> moniker = CameraMoniker(preset, bag))
        moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.ReceiveVoid());
    return filter;
}

// What the grabber's callback hands the image stream: the samples counted, the first images
// kept (every field, decoded on the streaming thread).
struct Collected {
    std::mutex mutex;
    ImgSrcStream* stream = nullptr;
    ImageCase image{};
    std::size_t keep = 0, samples = 0;
    std::vector<std::vector<std::uint8_t>> images;
} g_collected;

void OnImage() {
    std::lock_guard lock(g_collected.mutex);
    if (g_collected.images.size() < g_collected.keep)
        g_collected.images.push_back(DecodeFields(*g_collected.stream, g_collected.image));
    ++g_collected.samples;
}

std::size_t Samples() {
    std::lock_guard lock(g_collected.mutex);
    return g_collected.samples;
}

// Bounded, so a graph that never streams fails instead of hanging the suite.
bool WaitFor(std::size_t samples) {
    for (int i = 0; i < 1000 && Samples() < samples; ++i) Sleep(10);
    return Samples() >= samples;
}

class WineCapture : public ::testing::Test {
  protected:
    // Selects a camera the way the device connects: stream attached, device, format, graph.
    void Connect(const Camera& camera) {
        graph_.AttachStream(&stream_);
        ASSERT_EQ(graph_.SelectDevice(camera.path, L"0", camera.radiometricUsb), S_OK);
        ASSERT_EQ(graph_.SetMediaType(camera.subtype), S_OK);
        ASSERT_EQ(graph_.BuildCaptureGraph(false), S_OK);
    }

    void Collect(const ImageCase& c, std::size_t keep) {
        std::lock_guard lock(g_collected.mutex);
        g_collected.stream = &stream_;
        g_collected.image = c;
        g_collected.keep = keep;
        g_collected.samples = 0;
        g_collected.images.clear();
        stream_.SetNewImageCallback(&OnImage);
    }

    ImgSrcStream stream_;
    CMtxGraph graph_;
};

class Cameras : public WineCapture, public ::testing::WithParamInterface<Camera> {};

TEST_P(Cameras, FoundByPathListFormatsAndRatesAndSetOne) {
    const Camera& camera = GetParam();
    ASSERT_EQ(graph_.SelectDevice(camera.path, L"0", false), S_OK);
    for (const GUID& subtype : camera.offered) EXPECT_TRUE(graph_.IsMediaTypeAvailable(subtype));
    EXPECT_FALSE(graph_.IsMediaTypeAvailable(camera.notOffered));
    ASSERT_NO_FATAL_FAILURE(Connect(camera));
    EXPECT_EQ(graph_.FrameRates(), camera.rates);
    EXPECT_EQ(graph_.SetFrameRate(15.0), S_OK);
    EXPECT_DOUBLE_EQ(graph_.GetFrameRate(), 15.0);
    EXPECT_NEAR(stream_.FrameRate(), 15.0, 1e-4);  // the exact rate the camera took
    CMtxGraph other;
    EXPECT_EQ(other.SelectDevice(L"\\\\?\\usb#vid_0000&pid_0000#none", L"0", false), E_FAIL);
}

std::string TestName(std::string name) {
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Registered, Cameras, ::testing::ValuesIn(kCameras),
                         [](const auto& info) { return TestName(info.param.preset); });

// Stopped means stopped: nothing reaches the stream once Stop has returned. Changing the format
// of a running capture pin is refused by the platform's filters; the graph must say so instead
// of telling the stream a rate the camera does not run at.
TEST_F(WineCapture, RunsAndStopsRepeatedlyAndRefusesARateChangeWhileRunning) {
    ASSERT_NO_FATAL_FAILURE(Connect(kCameras[2]));
    Collect(kImageCases[0], 0);
    for (std::size_t cycle = 1; cycle <= 3; ++cycle) {
        ASSERT_EQ(graph_.Run(), S_OK) << "cycle " << cycle;
        ASSERT_TRUE(WaitFor(3 * cycle)) << "cycle " << cycle;
        if (cycle == 1) {
            stream_.SetFrameRate(30.0f);
            EXPECT_EQ(graph_.SetFrameRate(15.0), VFW_E_NOT_STOPPED);
            EXPECT_FLOAT_EQ(stream_.FrameRate(), 30.0f);
        }
        ASSERT_EQ(graph_.Stop(), S_OK) << "cycle " << cycle;
        const std::size_t after = Samples();
        Sleep(100);
        EXPECT_EQ(Samples(), after) << "cycle " << cycle;
    }
    EXPECT_DOUBLE_EQ(graph_.GetFrameRate(), 30.0);
    // A camera in real time on a busy machine may have dropped frames; never a negative count.
    LONG dropped = -1;
    EXPECT_EQ(graph_.GetDroppedFrames(&dropped), S_OK);
    EXPECT_GE(dropped, 0);
}

// A camera registered without "DevicePath" (software and virtual cameras often are) is passed
// over: before Windows 8.1 the bag's failed read would have left the VARIANT's old string to be
// freed, had the capture code not set it.
TEST(DeviceSelection, ACameraRegisteredWithoutADevicePathIsPassedOver) {
    const std::wstring key = L"CLSID\\{860BB310-5D01-11d0-BD3B-00A0C911CE86}\\Instance\\usb-ir";
    wchar_t saved[1024] = {};
    DWORD size = sizeof saved;
    ASSERT_EQ(RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), L"DevicePath", RRF_RT_REG_SZ, nullptr,
                           saved, &size),
              ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), L"DevicePath"), ERROR_SUCCESS);
    CMtxGraph graph;
    EXPECT_EQ(graph.SelectDevice(kCameras[0].path, L"0", true), E_FAIL);  // no camera names it now
    EXPECT_EQ(graph.SelectDevice(kCameras[1].path, L"0", false), S_OK);   // found past it
    EXPECT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), L"DevicePath", REG_SZ, saved, size),
              ERROR_SUCCESS);
}

// The filter DLL stays in use while any object it handed out lives, not only its filters:
// CoFreeUnusedLibraries, which teardown calls, would otherwise unload code still running.
TEST(FilterDll, StaysInUseWhileAnyObjectItHandedOutLives) {
    ComPtr<IBaseFilter> filter = BindCamera("usb-ir");
    ASSERT_TRUE(filter);
    const HMODULE dll = GetModuleHandleW(L"zrf_simcam.dll");
    ASSERT_NE(dll, nullptr);
    const auto canUnload = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    ASSERT_NE(canUnload, nullptr);
    ComPtr<IEnumPins> pins;
    ComPtr<IPin> pin;
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(filter->EnumPins(pins.Receive()), S_OK);
    ASSERT_EQ(pins->Next(1, pin.Receive(), nullptr), S_OK);
    ASSERT_EQ(pin->EnumMediaTypes(types.Receive()), S_OK);
    EXPECT_EQ(canUnload(), S_FALSE);
    pins = nullptr;
    pin = nullptr;
    filter = nullptr;
    EXPECT_EQ(canUnload(), S_FALSE) << "a media-type enumerator still lives";
    types = nullptr;
    EXPECT_EQ(canUnload(), S_OK);
}

// What the Linux build wrote (windows_reference_images) under ZRF_REFERENCE_DIR.
std::vector<std::uint8_t> Reference(const std::string& name) {
    const char* dir = std::getenv("ZRF_REFERENCE_DIR");
    std::ifstream in(std::string(dir != nullptr ? dir : "") + "\\" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Images : public WineCapture, public ::testing::WithParamInterface<ImageCase> {};

// The first frames a freshly bound camera sends, through the grabber's callback into the image
// stream, decode to exactly what the Linux build decodes for that camera, seed and frame.
TEST_P(Images, EqualTheLinuxBuildsByteForByte) {
    const ImageCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(SetCameraValue(c.camera, L"Seed", static_cast<LONG>(kImageSeed)));
    ASSERT_NO_FATAL_FAILURE(SetCameraValue(c.camera, L"WindowingFields", c.fields));
    ConfigureStream(stream_, c);
    Camera camera = *std::find_if(std::begin(kCameras), std::end(kCameras), [&](const Camera& k) {
        return std::string(k.preset) == c.camera;
    });
    camera.subtype = c.subtype;
    camera.radiometricUsb = c.radiometricUsb;
    ASSERT_NO_FATAL_FAILURE(Connect(camera));
    EXPECT_EQ(graph_.GetImageSize(), c.size);
    Collect(c, kImageFrames);
    ASSERT_EQ(graph_.Run(), S_OK);
    ASSERT_TRUE(WaitFor(kImageFrames));
    ASSERT_EQ(graph_.Stop(), S_OK);
    SetCameraValue(c.camera, L"WindowingFields", 0);

    ASSERT_EQ(g_collected.images.size(), static_cast<std::size_t>(kImageFrames));
    for (int frame = 0; frame < kImageFrames; ++frame) {
        const auto expected = Reference(ReferenceName(c, frame));
        ASSERT_FALSE(expected.empty()) << ReferenceName(c, frame);
        EXPECT_TRUE(g_collected.images[frame] == expected) << c.name << " frame " << frame;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Images, ::testing::ValuesIn(kImageCases),
                         [](const auto& info) { return TestName(info.param.name); });

// Without the codec the Windows build decodes no JPEG-LS sample, and says so per frame.
TEST_F(WineCapture, AJpegLsSampleIsABadFrame) {
    auto sample = Reference(kJpegLsSampleName);
    ASSERT_FALSE(sample.empty());
    ImageCase c{"jpegls", "usb-ir", kSubtypeMJLS, SourceKind::Usb, 1, true, {640, 480}};
    ConfigureStream(stream_, c);
    static ImgSrcStream* stream = &stream_;
    static DecodeResult result = DecodeResult::Ok;
    stream_.SetNewImageCallback([] {
        std::vector<std::uint8_t> out(
            std::max<std::int32_t>(stream->GetImageBufferSize(), 1 << 20));
        result = stream->DecodeImage(0, out.data());
    });
    stream_.OnNewSample(sample.data(), static_cast<std::int32_t>(sample.size()), c.size);
    EXPECT_EQ(result, DecodeResult::BadFrame);
}

}  // namespace
