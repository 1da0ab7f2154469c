// The capture graph against a real DirectShow (Wine's quartz, qcap, qedit and devenum), with the
// simulated cameras' registered source filter as the devices. The Linux suites keep the edge
// cases; these check the protocol: device selection, formats, frame rates, the properties read
// at connect, running and stopping, and the images that arrive through the grabber's callback.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>

#include "capture/mtx_graph.h"
#include "platform/dshow/dshow.h"
#include "tests/windows/image_cases.h"

using namespace zrf::windows_tests;
using zrf::com::ComPtr;

namespace {

// A crash ends the suite with a line and an exit code, instead of starting Wine's debugger,
// which waits for a user that CI does not have.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
    std::fprintf(stderr, "wine_capture_test: exception 0x%08lX at %p\n",
                 info->ExceptionRecord->ExceptionCode, info->ExceptionRecord->ExceptionAddress);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}
const bool kCrashReported = (SetUnhandledExceptionFilter(&ReportCrash), true);

struct Camera {
    const char* preset;
    const wchar_t* path;
    const char* testName;
};

const Camera kUsbIr{"usb-ir",
                    L"\\\\?\\usb#vid_2f1e&pid_0a10&mi_00#7&1c2d3e4f&0&0000#"
                    L"{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global",
                    "UsbIr"};
const Camera kFwIr{"fw-ir",
                   L"\\\\?\\1394#4e8a&1a2b3c4d&0#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global",
                   "FwIr"};
const Camera kWebcam{"webcam",
                     L"\\\\?\\usb#vid_1d6b&pid_0c45&mi_00#6&2b3c4d5e&0&0000#"
                     L"{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global",
                     "Webcam"};

const Camera& CameraNamed(const std::string& preset) {
    return preset == "usb-ir" ? kUsbIr : preset == "fw-ir" ? kFwIr : kWebcam;
}

// Writes a number into the property bag of the registered camera that serves `preset`: what
// its filter reads when the next bind loads the bag.
void SetCameraValue(const char* preset, const wchar_t* name, LONG number) {
    ComPtr<ICreateDevEnum> devices;
    ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICreateDevEnum, devices.ReceiveVoid()),
              S_OK);
    ComPtr<IEnumMoniker> monikers;
    ASSERT_EQ(devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0),
              S_OK);
    ComPtr<IMoniker> moniker;
    const std::wstring wanted(preset, preset + std::strlen(preset));
    while (monikers->Next(1, moniker.Receive(), nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        ASSERT_EQ(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.ReceiveVoid()),
                  S_OK);
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_BSTR;
        const bool match = SUCCEEDED(bag->Read(L"Preset", &value, nullptr)) &&
                           value.vt == VT_BSTR && wanted == value.bstrVal;
        VariantClear(&value);
        if (!match) continue;
        value.vt = VT_I4;
        value.lVal = number;
        ASSERT_EQ(bag->Write(name, &value), S_OK);
        return;
    }
    FAIL() << "no registered camera " << preset;
}

// Collects what the grabber's callback hands the image stream: every field of each sample,
// decoded on the streaming thread.
class Collector {
  public:
    explicit Collector(ImgSrcStream& stream) : stream_(stream) {
        std::lock_guard lock(mutex_);
        current_ = this;
        stream_.SetNewImageCallback(&Collector::OnImage);
    }
    ~Collector() {
        stream_.SetNewImageCallback(nullptr);
        std::lock_guard lock(mutex_);
        current_ = nullptr;
    }
    void Keep(std::size_t images, const ImageCase& c) {
        std::lock_guard lock(mutex_);
        keep_ = images;
        case_ = c;
    }
    // Bounded, so a graph that never streams fails instead of hanging the suite.
    bool WaitFor(std::size_t samples) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10),
                                 [&] { return samples_ >= samples; });
    }
    std::size_t Samples() {
        std::lock_guard lock(mutex_);
        return samples_;
    }
    std::vector<std::vector<std::uint8_t>> Images() {
        std::lock_guard lock(mutex_);
        return images_;
    }

  private:
    static void OnImage() {
        std::lock_guard lock(mutex_);
        Collector* self = current_;
        if (self == nullptr) return;
        if (self->images_.size() < self->keep_) {
            self->images_.push_back(DecodeFields(self->stream_, self->case_));
        }
        ++self->samples_;
        self->changed_.notify_all();
    }

    static inline std::mutex mutex_;
    static inline Collector* current_ = nullptr;
    ImgSrcStream& stream_;
    std::condition_variable changed_;
    std::size_t samples_ = 0;
    std::size_t keep_ = 0;
    ImageCase case_{};
    std::vector<std::vector<std::uint8_t>> images_;
};

class WineCapture : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

    // Selects a camera the way the device connects: stream attached, device, format, graph.
    void Connect(const Camera& camera, const GUID& subtype, bool radiometricUsb) {
        graph_.AttachStream(&stream_);
        ASSERT_EQ(graph_.SelectDevice(camera.path, L"0", radiometricUsb), S_OK);
        ASSERT_EQ(graph_.SetMediaType(subtype), S_OK);
        ASSERT_EQ(graph_.BuildCaptureGraph(false), S_OK);
    }

    ImgSrcStream stream_;
    CMtxGraph graph_;
};

// ---- device selection and formats ----

struct DeviceRow {
    Camera camera;
    std::vector<GUID> offered;
    GUID notOffered;
};

class DeviceSelection : public WineCapture, public ::testing::WithParamInterface<DeviceRow> {};

TEST_P(DeviceSelection, FindsTheCameraByPathAndListsItsFormats) {
    const DeviceRow& row = GetParam();
    ASSERT_EQ(graph_.SelectDevice(row.camera.path, L"0", false), S_OK);
    for (const GUID& subtype : row.offered) EXPECT_TRUE(graph_.IsMediaTypeAvailable(subtype));
    EXPECT_FALSE(graph_.IsMediaTypeAvailable(row.notOffered));
}

INSTANTIATE_TEST_SUITE_P(
    Cameras, DeviceSelection,
    ::testing::Values(DeviceRow{kUsbIr, {kSubtypeF7M0, kSubtypeMJLS, kSubtypeYUY2, kSubtypeMJPG},
                                kSubtypeF7M2},
                      DeviceRow{kFwIr, {kSubtypeF7M2, kSubtypeF7M0}, kSubtypeYUY2},
                      DeviceRow{kWebcam, {kSubtypeYUY2, kSubtypeMJPG}, kSubtypeF7M0}),
    [](const auto& info) { return std::string(info.param.camera.testName); });

TEST_F(WineCapture, AnUnknownPathSelectsNothing) {
    EXPECT_EQ(graph_.SelectDevice(L"\\\\?\\usb#vid_0000&pid_0000#none", L"0", false), E_FAIL);
}

// ---- properties read at connect ----

TEST_F(WineCapture, ReadsTheMakerPropertiesAtConnect) {
    ASSERT_EQ(graph_.SelectDevice(kUsbIr.path, L"0", true), S_OK);
    EXPECT_EQ(graph_.DeviceInfoText(), "Thermal USB Camera");
    EXPECT_EQ(graph_.DeviceInfoWord(), 1u);
    DWORD words[4] = {};
    graph_.GetDeviceInfo(&words[0], &words[1], &words[2], &words[3]);
    EXPECT_EQ(words[0], 0x00010002u);
    EXPECT_EQ(words[1], 0x640u);
    EXPECT_EQ(words[2], 0x1E0u);
    EXPECT_EQ(graph_.ModeValue(), 2u);
}

TEST_F(WineCapture, ACameraWithoutMakerPropertiesKeepsTheDefaults) {
    ASSERT_EQ(graph_.SelectDevice(kFwIr.path, L"0", false), S_OK);
    EXPECT_EQ(graph_.DeviceInfoText(), "");
    EXPECT_EQ(graph_.DeviceInfoWord(), 1u);
    EXPECT_EQ(graph_.ModeValue(), 2u);
}

// ---- frame rates ----

struct RateRow {
    Camera camera;
    GUID subtype;
    bool radiometricUsb;
    std::vector<float> rates;  // the camera's own list, or derived from the stream caps
};

class FrameRates : public WineCapture, public ::testing::WithParamInterface<RateRow> {};

TEST_P(FrameRates, ListsTheRatesAndSetsOne) {
    const RateRow& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(Connect(row.camera, row.subtype, row.radiometricUsb));
    EXPECT_EQ(graph_.FrameRates(), row.rates);
    EXPECT_EQ(graph_.SetFrameRate(15.0), S_OK);
    EXPECT_DOUBLE_EQ(graph_.GetFrameRate(), 15.0);
    EXPECT_FLOAT_EQ(stream_.FrameRate(), 15.0f);
}

INSTANTIATE_TEST_SUITE_P(
    Cameras, FrameRates,
    ::testing::Values(RateRow{kUsbIr, kSubtypeF7M0, true, {30.0f, 15.0f, 7.5f}},
                      RateRow{kFwIr, kSubtypeF7M2, false, {30.0f, 15.0f}},
                      RateRow{kWebcam, kSubtypeYUY2, false, {30.0f, 15.0f}}),
    [](const auto& info) { return std::string(info.param.camera.testName); });

// Changing the format of a running capture pin is refused by the platform's filters; the graph
// must say so instead of telling the stream a rate the camera does not run at.
TEST_F(WineCapture, ARateChangeWhileRunningIsRefused) {
    ASSERT_NO_FATAL_FAILURE(Connect(kWebcam, kSubtypeYUY2, false));
    Collector collector(stream_);
    ASSERT_EQ(graph_.Run(), S_OK);
    ASSERT_TRUE(collector.WaitFor(1));
    stream_.SetFrameRate(30.0f);
    EXPECT_EQ(graph_.SetFrameRate(15.0), VFW_E_NOT_STOPPED);
    EXPECT_FLOAT_EQ(stream_.FrameRate(), 30.0f);
    EXPECT_EQ(graph_.Stop(), S_OK);
    EXPECT_DOUBLE_EQ(graph_.GetFrameRate(), 30.0);
}

// ---- running and stopping ----

TEST_F(WineCapture, RunsAndStopsRepeatedly) {
    ASSERT_NO_FATAL_FAILURE(Connect(kUsbIr, kSubtypeF7M0, true));
    Collector collector(stream_);
    for (int cycle = 1; cycle <= 3; ++cycle) {
        ASSERT_EQ(graph_.Run(), S_OK) << "cycle " << cycle;
        ASSERT_TRUE(collector.WaitFor(3 * static_cast<std::size_t>(cycle))) << "cycle " << cycle;
        ASSERT_EQ(graph_.Stop(), S_OK) << "cycle " << cycle;
        // Stopped means stopped: nothing reaches the stream once Stop has returned.
        const std::size_t after = collector.Samples();
        Sleep(100);
        EXPECT_EQ(collector.Samples(), after) << "cycle " << cycle;
    }
    LONG dropped = -1;
    EXPECT_EQ(graph_.GetDroppedFrames(&dropped), S_OK);
    EXPECT_EQ(dropped, 0);
}

// ---- the images ----

std::string ReferenceDir() {
    const char* dir = std::getenv("ZRF_REFERENCE_DIR");
    return dir != nullptr ? dir : "";
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Images : public WineCapture, public ::testing::WithParamInterface<ImageCase> {};

// The first frames a freshly bound camera sends, through the grabber's callback into the image
// stream, decode to exactly what the Linux build decodes for that camera, seed and frame.
TEST_P(Images, EqualTheLinuxBuildsByteForByte) {
    const ImageCase& c = GetParam();
    ASSERT_FALSE(ReferenceDir().empty()) << "ZRF_REFERENCE_DIR names the Linux build's images";
    ASSERT_NO_FATAL_FAILURE(SetCameraValue(c.camera, L"Seed", static_cast<LONG>(kImageSeed)));
    ASSERT_NO_FATAL_FAILURE(SetCameraValue(c.camera, L"WindowingFields", c.fields));
    ConfigureStream(stream_, c);
    ASSERT_NO_FATAL_FAILURE(Connect(CameraNamed(c.camera), c.subtype, c.radiometricUsb));
    EXPECT_EQ(graph_.GetImageSize(), c.size);
    Collector collector(stream_);
    collector.Keep(kImageFrames, c);
    ASSERT_EQ(graph_.Run(), S_OK);
    ASSERT_TRUE(collector.WaitFor(kImageFrames));
    ASSERT_EQ(graph_.Stop(), S_OK);
    SetCameraValue(c.camera, L"WindowingFields", 0);

    const auto images = collector.Images();
    ASSERT_EQ(images.size(), static_cast<std::size_t>(kImageFrames));
    for (int frame = 0; frame < kImageFrames; ++frame) {
        const auto expected = ReadFile(ReferenceDir() + "\\" + ReferenceName(c, frame));
        ASSERT_FALSE(expected.empty()) << ReferenceName(c, frame);
        EXPECT_TRUE(images[frame] == expected) << c.name << " frame " << frame;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Images, ::testing::ValuesIn(kImageCases),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& ch : name) {
                                 if (ch == '-') ch = '_';
                             }
                             return name;
                         });

// Without the codec the Windows build decodes no JPEG-LS sample, and says so per frame.
TEST_F(WineCapture, AJpegLsSampleIsABadFrame) {
    ASSERT_FALSE(ReferenceDir().empty());
    auto sample = ReadFile(ReferenceDir() + "\\" + kJpegLsSampleName);
    ASSERT_FALSE(sample.empty());
    ImageCase c{"jpegls", "usb-ir", kSubtypeMJLS, SourceKind::Usb, 1, true, {640, 480}};
    ConfigureStream(stream_, c);
    static ImgSrcStream* stream = nullptr;
    static DecodeResult result = DecodeResult::Ok;
    stream = &stream_;
    stream_.SetNewImageCallback([] {
        std::vector<std::uint8_t> out(std::max<std::int32_t>(stream->GetImageBufferSize(), 1 << 20));
        result = stream->DecodeImage(0, out.data());
    });
    stream_.OnNewSample(sample.data(), static_cast<std::int32_t>(sample.size()), c.size);
    EXPECT_EQ(result, DecodeResult::BadFrame);
}

}  // namespace
