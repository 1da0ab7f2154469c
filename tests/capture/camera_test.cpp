// Format slots, the image size the stream is told, the frame-rate list and rate, and the
// camera's controls below the graph (the maker's property set, the mailbox, tape transport,
// the serial number), against drivers that report whatever a row says. Every length a camera
// reports stays inside the buffer it arrived in.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_ids.h"
#include "capture/device_serial.h"
#include "imaging/media_subtypes.h"
#include "platform/com/task_allocator.h"
#include "platform/dshow/filter_base.h"
#include "platform/dshow/video_input_devices.h"
#include "platform/time/test_clock.h"
#include "sim/video/format_blocks.h"
#include "tests/capture/capture_fixture.h"

namespace CaptureTest {
namespace {

using Bytes = std::vector<BYTE>;
constexpr DWORD kRates = 0xFFFFFFFF;  // the frame-rate list's key among the property replies

// A media type with a format block of the given type and size, holding a video information
// header with these values as far as the block reaches.
zrf::dshow::MediaType OfferedType(const GUID& subtype, LONG width, LONG height,
                                  REFERENCE_TIME interval = 333333,
                                  const GUID& format_type = FORMAT_VideoInfo,
                                  ULONG format_size = sizeof(VIDEOINFOHEADER)) {
    return zrf::sim::MediaTypeFor(
        {subtype, width, height, 16, 0, {interval}, format_type, format_size}, interval);
}

// What a driver that lies reports, and what it was asked.
struct Lies {
    std::vector<zrf::dshow::MediaType> offered = {OfferedType(kSubtypeF7M0, 640, 483)};
    // Property replies and the lengths claimed (0: the reply's own) by id, kRates for the
    // video-control frame-rate list; an id not listed is not supported.
    std::map<DWORD, std::pair<Bytes, DWORD>> replies;
    // Stream capabilities (subtype, fastest and slowest interval), with the count (-1: as many
    // as listed) and structure size claimed.
    std::vector<std::tuple<GUID, LONGLONG, LONGLONG>> capabilities;
    int capability_count = -1;
    int capability_size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    std::optional<zrf::dshow::MediaType> format;  // what GetFormat reports
    Bytes mailbox_reply;
    ULONG mailbox_returned = 256;
    HRESULT mailbox_read_result = S_OK;
    DWORD topology_nodes = 1;  // node 0 is the vendor-specific unit
    std::vector<REFERENCE_TIME> set_format_intervals;
    int mailbox_reads = 0;
};
using LiesPtr = std::shared_ptr<Lies>;

class LyingPin final : public zrf::dshow::PinBase, public IKsPropertySet, public IAMStreamConfig {
  public:
    LyingPin(zrf::dshow::FilterBase& owner, LiesPtr s)
        : PinBase(owner, PINDIR_OUTPUT, L"Capture", PIN_CATEGORY_CAPTURE), s_(std::move(s)) {}
    ZRF_COM_FORWARD_UNKNOWN(zrf::dshow::PinBase)

    HRESULT Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_NOTIMPL; }
    static DWORD Key(REFGUID set, DWORD id) {
        return set == PROPSETID_VIDCAP_VIDEOCONTROL ? kRates : id;
    }
    HRESULT Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size,
                DWORD* returned) override {
        // Even a lying driver's pin says what it is: without it the pin is no capture pin.
        if (set == AMPROPSETID_Pin && id == AMPROPERTY_PIN_CATEGORY && size >= sizeof(GUID)) {
            std::memcpy(data, &PIN_CATEGORY_CAPTURE, sizeof(GUID));
            *returned = sizeof(GUID);
            return S_OK;
        }
        const auto reply = s_->replies.find(Key(set, id));
        if (reply == s_->replies.end()) return E_PROP_ID_UNSUPPORTED;
        const auto& [bytes, claimed] = reply->second;
        std::memcpy(data, bytes.data(), std::min<std::size_t>(size, bytes.size()));
        *returned = claimed ? claimed : static_cast<DWORD>(bytes.size());
        return S_OK;
    }
    HRESULT QuerySupported(REFGUID set, DWORD id, DWORD* support) override {
        *support = s_->replies.count(Key(set, id)) ? KSPROPERTY_SUPPORT_GET : 0;
        return *support ? S_OK : E_PROP_ID_UNSUPPORTED;
    }
    HRESULT SetFormat(AM_MEDIA_TYPE* pmt) override {
        if (pmt->cbFormat >= sizeof(VIDEOINFOHEADER))
            s_->set_format_intervals.push_back(
                reinterpret_cast<const VIDEOINFOHEADER*>(pmt->pbFormat)->AvgTimePerFrame);
        return S_OK;
    }
    HRESULT GetFormat(AM_MEDIA_TYPE** ppmt) override {
        if (s_->format) *ppmt = CreateMediaType(&s_->format->Get());
        return s_->format ? S_OK : E_FAIL;
    }
    HRESULT GetNumberOfCapabilities(int* count, int* size) override {
        *count = s_->capability_count < 0 ? static_cast<int>(s_->capabilities.size())
                                          : s_->capability_count;
        *size = s_->capability_size;
        return S_OK;
    }
    HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** ppmt, BYTE* caps) override {
        if (index < 0 || static_cast<std::size_t>(index) >= s_->capabilities.size())
            return E_INVALIDARG;
        const auto& [subtype, fastest, slowest] = s_->capabilities[static_cast<std::size_t>(index)];
        *ppmt = CreateMediaType(&OfferedType(subtype, 640, 480).Get());
        VIDEO_STREAM_CONFIG_CAPS limits{};
        limits.MinFrameInterval = fastest;
        limits.MaxFrameInterval = slowest;
        std::memcpy(caps, &limits, sizeof limits);
        return S_OK;
    }

  protected:
    void* FindExtraInterface(REFIID riid) override {
        if (riid == IID_IKsPropertySet) return static_cast<IKsPropertySet*>(this);
        return riid == IID_IAMStreamConfig ? static_cast<IAMStreamConfig*>(this) : nullptr;
    }

  private:
    LiesPtr s_;
};

class LyingFilter final : public zrf::dshow::FilterBase, public IKsTopologyInfo, public IKsControl {
  public:
    explicit LyingFilter(LiesPtr s)
        : FilterBase(
              {0x3E0B3F51, 0x7A4C, 0x4D0E, {0x9C, 0x1A, 0x55, 0x21, 0x6B, 0x0D, 0x42, 0x77}}),
          s_(s) {
        AddPin(std::make_unique<LyingPin>(*this, s));
    }
    ZRF_COM_FORWARD_UNKNOWN(zrf::dshow::FilterBase)

    HRESULT get_NumNodes(DWORD* nodes) override { return *nodes = s_->topology_nodes, S_OK; }
    HRESULT get_NodeType(DWORD node, GUID* type) override {
        *type = KSNODETYPE_DEV_SPECIFIC;
        return node == 0 ? S_OK : E_INVALIDARG;
    }
    HRESULT KsProperty(PKSPROPERTY property, ULONG, LPVOID data, ULONG size,
                       ULONG* returned) override {
        if ((property->Flags & KSPROPERTY_TYPE_GET) == 0) return S_OK;
        ++s_->mailbox_reads;
        if (FAILED(s_->mailbox_read_result)) return s_->mailbox_read_result;
        std::memcpy(data, s_->mailbox_reply.data(),
                    std::min<std::size_t>(size, s_->mailbox_reply.size()));
        *returned = s_->mailbox_returned;
        return S_OK;
    }
    HRESULT CheckMediaType(const zrf::dshow::PinBase&, const AM_MEDIA_TYPE&) override {
        return S_OK;
    }
    void GetMediaTypes(const zrf::dshow::PinBase&,
                       std::vector<zrf::dshow::MediaType>& out) override {
        out = s_->offered;
    }

  protected:
    void* FindInterface(REFIID riid) override {
        if (riid == IID_IKsTopologyInfo) return static_cast<IKsTopologyInfo*>(this);
        if (riid == IID_IKsControl) return static_cast<IKsControl*>(this);
        return FilterBase::FindInterface(riid);
    }

  private:
    LiesPtr s_;
};

using ::testing::ElementsAreArray;
using Settings = zrf::sim::VideoDeviceSettings;

struct Offer {
    GUID subtype;
    LONG width;
    LONG height;
    ULONG formatSize = sizeof(VIDEOINFOHEADER);
    GUID formatType = FORMAT_VideoInfo;
};

Lies Offering(const std::vector<Offer>& offers) {
    Lies lies;
    lies.offered.clear();
    for (const Offer& o : offers)
        lies.offered.push_back(
            OfferedType(o.subtype, o.width, o.height, 333333, o.formatType, o.formatSize));
    return lies;
}

// A frame-rate reply: item size and count, then the intervals.
Bytes RateReply(ULONG count, std::vector<LONGLONG> intervals) {
    Bytes reply(8 + intervals.size() * 8);
    const ULONG size = static_cast<ULONG>(reply.size());
    std::memcpy(reply.data(), &size, 4);
    std::memcpy(reply.data() + 4, &count, 4);
    std::memcpy(reply.data() + 8, intervals.data(), intervals.size() * 8);
    return reply;
}

Settings Usb(const std::function<void(Settings&)>& change) {
    return With(zrf::sim::UsbIrPreset(), change);
}

// Its reads of the mailbox answer "not ready" this many times.
Settings NotReady(int reads) {
    return Usb([&](Settings& s) {
        s.extension_unit->not_ready_reads = reads;
        s.extension_unit->nodes_before.push_back(GUID_NULL);  // a node that cannot be read
    });
}

class CameraTest : public ::testing::Test {
  protected:
    static constexpr const wchar_t* kLyingPath = L"\\\\?\\usb#vid_0000&pid_0000#lying#{0}";
    // The lying driver's filter class, which its moniker binds to.
    static constexpr CLSID kLyingClass = {
        0x3E0B3F51, 0x7A4C, 0x4D0E, {0x9C, 0x1A, 0x55, 0x21, 0x6B, 0x0D, 0x42, 0x77}};

    // Every format block is let go with the graph and the camera.
    void TearDown() override {
        Reset();
        EXPECT_EQ(blocks_, zrf::com::TaskAllocatorLiveCount());
    }
    void Reset() {
        graph_.reset();
        if (lies_) zrf::dshow::VideoInputDevices::Remove(lyingId_);
        lyingClass_.reset();
        lies_.reset();
        device_.reset();
    }
    // A fresh graph and stream on a simulated camera, or on a lying one if given, selected
    // twice: the second selection refills the slots.
    CMtxGraph& Select(const Settings& settings, const std::optional<Lies>& lying = {},
                      bool radiometricUsb = false) {
        Reset();
        if (lying) {
            lies_ = std::make_shared<Lies>(*lying);
            lyingClass_.emplace(kLyingClass, [s = lies_](REFIID riid, void** ppv) {
                auto filter = zrf::com::MakeCom<LyingFilter>(s);
                return static_cast<IBaseFilter*>(filter.Get())->QueryInterface(riid, ppv);
            });
            lyingId_ = zrf::dshow::VideoInputDevices::Add(zrf::dshow::VideoInputDevice::Of(
                kLyingClass, L"Lying Camera", kLyingPath,
                std::wstring(L"@device:pnp:") + kLyingPath));
        } else {
            device_ = AddDevice(settings);
        }
        stream_ = std::make_unique<RecordingStream>();
        graph_ = std::make_unique<CMtxGraph>();
        graph_->AttachStream(stream_.get());
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(S_OK, graph_->SelectDevice(lying ? kLyingPath : settings.device_path, L"0",
                                                 radiometricUsb));
        return *graph_;
    }
    // The lying camera's graph with the subtype set: SetMediaType's code.
    HRESULT Open(const Lies& lies, const GUID& subtype, bool radiometricUsb = false) {
        return Select({}, lies, radiometricUsb).SetMediaType(subtype);
    }

    const long blocks_ = zrf::com::TaskAllocatorLiveCount();
    Platform::TestClock clock_;
    Platform::TestClockScope scope_{clock_};
    DevicePtr device_;
    LiesPtr lies_;
    zrf::dshow::VideoInputDevices::Id lyingId_{};
    std::optional<zrf::com::ScopedClassOverride> lyingClass_;
    std::unique_ptr<RecordingStream> stream_;
    std::unique_ptr<CMtxGraph> graph_;
};

const GUID F7M0 = kSubtypeF7M0, F7M2 = kSubtypeF7M2, Y800 = kSubtypeY800, MJLS = kSubtypeMJLS,
           MJPG = kSubtypeMJPG, YUY2 = kSubtypeYUY2, I420 = kSubtypeI420, other = FORMAT_None;
const ImageSize kNone{-1, -1};

// Per slot: F7M0 takes only a video-information type, F7M2 the last offered, MJLS and MJPG the
// first, YUY2 and I420 only a complete header; an unknown subtype means F7M0. Radiometric USB
// raw frames lose the rows of their 3840-byte header. Nothing divides by a width of zero or
// less; a block too short is never read.
TEST_F(CameraTest, SlotsTakeTheirTypesAndTheStreamIsToldTheImageSize) {
    // The offers, the subtype, radiometric USB, the size the stream is told (kNone: SetMediaType
    // fails and the stream is told nothing), and whether the slot holds a complete header.
    using Case = std::tuple<std::vector<Offer>, GUID, bool, ImageSize, bool>;
    // clang-format off
    const Case cases[] = {
        {{{F7M0, 320, 243, 88, other}, {F7M0, 640, 483}}, F7M0, false, {640, 483}, true},
        {{{F7M0, 640, 483}, {F7M0, 320, 243, 88, other}}, F7M0, false, {640, 483}, true},
        {{{F7M2, 320, 240}, {F7M2, 640, 480}}, F7M2, false, {640, 480}, true},
        {{{MJLS, 320, 240}, {MJLS, 640, 480}}, MJLS, false, {320, 240}, true},
        {{{MJPG, 160, 120}, {MJPG, 640, 480}}, MJPG, false, {160, 120}, true},
        {{{YUY2, 640, 480, 88}}, YUY2, false, {640, 480}, true},
        {{{YUY2, 640, 480, 87}}, YUY2, false, kNone, false},
        {{{I420, 640, 480, 87}}, I420, false, kNone, false},
        {{{YUY2, 640, 480}}, F7M0, false, kNone, false},
        {{{F7M0, 640, 483}, {YUY2, 320, 240}}, MEDIASUBTYPE_RGB24, false, {640, 483}, false},
        {{{F7M0, 640, 483}}, F7M0, true, {640, 480}, true},
        {{{Y800, 320, 246}}, Y800, true, {320, 240}, true},
        {{{MJLS, 640, 483}}, MJLS, true, {640, 483}, true},
        {{{YUY2, 640, 480}}, YUY2, true, {640, 480}, true},
        {{{F7M0, 0, 483}}, F7M0, true, kNone, true},
        {{{F7M2, -640, 483}}, F7M2, true, kNone, true},
        {{{F7M2, 640, 480, 8}}, F7M2, false, kNone, false},
        {{{MJLS, 640, 480, 0}}, MJLS, false, kNone, false},
    };
    // clang-format on
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& [offers, subtype, usb, size, available] = cases[i];
        SCOPED_TRACE(i);
        const bool ok = size.width != -1;
        EXPECT_EQ(Open(Offering(offers), subtype, usb), ok ? S_OK : E_FAIL);
        EXPECT_EQ(graph_->IsMediaTypeAvailable(subtype), available);
        EXPECT_EQ(stream_->imageSize, size);
        if (!ok) continue;
        EXPECT_EQ(graph_->GetImageSize(), size);
        EXPECT_EQ(stream_->subtype, subtype == MEDIASUBTYPE_RGB24 ? F7M0 : subtype);
    }
}

// A single type is taken as it is; only the F7M2, MJLS, MJPG and Y800 slots are refilled, so
// YUY2 keeps its complete type.
TEST_F(CameraTest, DefaultChoiceFindsTheWantedSubtype) {
    for (const auto& offers :
         {std::vector<Offer>{{YUY2, 640, 480}},
          {{YUY2, 640, 480}, {YUY2, 320, 240, 88, other}, {F7M0, 640, 483}, {MJLS, 640, 480}}}) {
        ASSERT_EQ(S_OK, Open(Offering(offers), YUY2));
        EXPECT_EQ(S_OK, graph_->SelectDefaultMediaType(false));
        EXPECT_EQ(E_FAIL, graph_->SelectDefaultMediaType(true));
        EXPECT_TRUE(graph_->IsMediaTypeAvailable(YUY2));
    }
    EXPECT_TRUE(graph_->IsMediaTypeAvailable(MJLS));
}

// The camera's own list comes first, cut to one decimal, leaving the limits alone; else the
// capabilities of the current subtype give the fastest rate halved down to the slowest, cut to
// two decimals. Counts and lengths are the driver's word: only what arrived is read.
TEST_F(CameraTest, FrameRateListFromTheCameraOrTheCapabilities) {
    struct Case {
        Bytes reply;
        DWORD returned;
        std::vector<std::tuple<GUID, LONGLONG, LONGLONG>> caps;
        std::vector<float> rates;
        float max = 60.0f;
        float min = 3.75f;
        int capCount = -1;  // -1: as many as listed
        int capSize = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    };
    const std::vector<LONGLONG> four = {333333, 666666, 1333333, 2666666};
    const LONGLONG huge = std::numeric_limits<LONGLONG>::max();
    // clang-format off
    const Case cases[] = {
        {RateReply(4, four), 40, {{F7M0, 333333, 1333333}}, {30, 15, 7.5f, 3.7f}},
        {RateReply(4, four), 39, {}, {30, 15, 7.5f}},
        // 11 intervals fill the 100-byte reply; the camera claims 1000 and 4000 bytes.
        {RateReply(1000, std::vector<LONGLONG>(20, 333333)), 4000, {}, std::vector<float>(11, 30)},
        {RateReply(4, {0, -333333, 666666, 1}), 40, {}, {15, 1e7f}},
        {RateReply(2, {0, 0}), 2, {{F7M0, 333333, 666666}}, {30, 15}, 30, 15},
        {{}, 0, {{F7M0, 166666, 2666666}}, {60, 30, 15, 7.5f, 3.75f}},
        {{}, 0, {{F7M0, 333333, 1333333}}, {30, 15, 7.5f}, 30, 7.5f},
        {{}, 0, {{F7M0, 333333, 666666}, {YUY2, 166666, 2666666}}, {30, 15}, 30, 15},
        {{}, 0, {{F7M0, 333333, 666666}, {F7M0, 0, 666666}, {F7M0, 333333, 0},
                 {F7M0, 333333, huge}, {F7M0, -1, -1}}, {30, 15}, 30, 15, 1'000'000'000},
        {{}, 0, {{F7M0, 333333, 666666}}, {}, 60, 3.75f, 1, 64},
    };
    // clang-format on
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(i);
        Lies s;
        if (!c.reply.empty()) s.replies[kRates] = {c.reply, c.returned};
        s.capabilities = c.caps;
        s.capability_count = c.capCount;
        s.capability_size = c.capSize;
        ASSERT_EQ(S_OK, Open(s, F7M0));
        EXPECT_THAT(graph_->FrameRates(), ElementsAreArray(c.rates));
        EXPECT_EQ(graph_->MaxFrameRate(), c.max);
        EXPECT_EQ(graph_->MinFrameRate(), c.min);
    }
}

// GetFrameRate: the device's interval as a rate cut to one decimal, or 10 when there is none,
// not passed on; the stream gets the exact rate. SetFrameRate: the truncated reciprocal of the
// rate clamped to the limits (60 and 3.75 here) is set; the stream gets the rate the device
// then reports or, without a format to read back, the clamped rate with the read-back's code.
TEST_F(CameraTest, FrameRateIsReadFromTheDeviceAndSetClamped) {
    const std::pair<REFERENCE_TIME, double> cases[] = {
        {-1, 10.0}, {0, 10.0}, {333333, 30.0}, {1333333, 7.5}, {400000, 25.0}};
    for (const auto& [interval, rate] : cases) {
        Lies s;
        if (interval >= 0) s.format = OfferedType(F7M0, 640, 483, interval);
        ASSERT_EQ(S_OK, Open(s, F7M0));
        EXPECT_EQ(rate, graph_->GetFrameRate()) << interval;
        const float exact = interval > 0 ? static_cast<float>(1e7 / interval) : 0.0f;
        EXPECT_EQ(exact, stream_->FrameRate());
        EXPECT_EQ(interval < 0 ? E_FAIL : S_OK, graph_->SetFrameRate(20));
        EXPECT_EQ(interval > 0 ? exact : 20.0f, stream_->FrameRate());
    }
    for (double rate : {30.0, 7.5, 1000.0, 0.0, -5.0, std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(S_OK, graph_->SetFrameRate(rate));
    }
    EXPECT_THAT(lies_->set_format_intervals, ElementsAreArray({500000, 333333, 1333333, 166666,
                                                               2666666, 2666666, 2666666, 166666}));
    EXPECT_EQ(25.0f, stream_->FrameRate());  // the device keeps its own interval
    EXPECT_EQ(10.0, CMtxGraph().GetFrameRate());
}

TEST_F(CameraTest, DeviceInformationAndModeValueAreReadAtSelection) {
    CMtxGraph& graph = Select(Usb([](Settings& s) { s.maker_properties->info_word = 9; }));
    device_->SetModeValue(5);  // the graph read it before
    EXPECT_EQ(9u, graph.DeviceInfoWord());
    EXPECT_EQ("Thermal USB Camera", graph.DeviceInfoText());
    DWORD words[4] = {};
    EXPECT_EQ(S_OK, graph.GetDeviceInfo(&words[0], &words[1], &words[2], &words[3]));
    EXPECT_EQ(std::pair(0x00010002u, 0x000001E0u), std::pair(words[0], words[2]));
    EXPECT_EQ(2u, graph.ModeValue());
    // A text that fills its block to the end stops there.
    Lies lies;
    lies.replies[1] = {Bytes(zrf::capture::kPropBlockSize, 'T'), 0};
    EXPECT_EQ(std::string(zrf::capture::kPropBlockSize - 24, 'T'),
              Select({}, lies).DeviceInfoText());
}

// Written only where the camera allows it; a web camera's pin has a property-set interface
// without the maker's set behind it.
TEST_F(CameraTest, ModeValueIsWrittenOnlyWhereTheCameraAllowsIt) {
    const std::tuple<Settings, HRESULT, DWORD> rows[] = {
        // camera, code of writing 7, after
        {Usb([](Settings& s) { s.maker_properties->mode_writable = false; }), S_OK, 2},
        {zrf::sim::UsbIrPreset(), S_OK, 7},
        {zrf::sim::WebcamPreset(), E_PROP_SET_UNSUPPORTED, 2},
    };
    for (const auto& [camera, code, after] : rows) {
        CMtxGraph& graph = Select(camera);
        EXPECT_EQ(code, graph.WriteModeValue(7));
        EXPECT_EQ(after, graph.ModeValue());
        EXPECT_EQ(camera.maker_properties ? after : 0, device_->ModeValue());
    }
}

// Raw commands go through the maker's property set, else through the tape transport. Mailbox
// replies not ready are read again after waits of 50, 100, 200 ... ms, seven reads at most.
// Lengths a camera claims never reach past the 256 bytes of a block.
TEST_F(CameraTest, RawCommandsAndMailboxTransactions) {
    const auto echo = [](Settings& s) {
        s.maker_properties->raw_command = [](const BYTE* request, std::size_t n) {
            Bytes reply(request, request + n);
            reply.push_back(0x99);
            return reply;
        };
    };
    Settings tape = zrf::sim::FwIrPreset();
    tape.maker_properties.reset();
    Lies rawLie, mailboxGone, mailboxLie;
    rawLie.replies[0] = {Bytes(260, 0xEE), 100000};
    std::memcpy(rawLie.replies[0].first.data(), &rawLie.replies[0].second, 4);  // its word too
    const HRESULT gone = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    mailboxGone.mailbox_read_result = gone;
    mailboxLie.mailbox_reply = Bytes(256, 0x11);
    mailboxLie.mailbox_returned = 100000;
    mailboxLie.topology_nodes = 0xFFFFFFFF;
    // The camera (or a lying one), through the mailbox or as a raw command, the length of the
    // request {0x42, 0x01, 0x02}, the code, the length replied, one byte of the buffer after, the
    // mailbox reads and the time slept.
    using Row = std::tuple<Settings, std::optional<Lies>, bool, LONG, HRESULT, LONG,
                           std::pair<int, BYTE>, int, long>;
    // clang-format off
    const Row rows[] = {
        {Usb(echo), {}, false, 3, S_OK, 4, {3, 0x99}, 0, 0},
        {tape, {}, false, 2, S_OK, 2, {0, 0x42}, 0, 0},
        {{}, rawLie, false, 5000, S_OK, 256, {255, 0xEE}, 0, 0},
        {zrf::sim::WebcamPreset(), {}, true, 2, E_NOINTERFACE, 2, {0, 0x42}, 0, 0},
        {{}, mailboxGone, true, 2, gone, 2, {0, 0x42}, 1, 0},
        {{}, mailboxLie, true, 100000, S_OK, 256, {255, 0x11}, 1, 0},
        {NotReady(0), {}, true, 2, S_OK, 256, {0, 0x42}, 1, 0},
        {NotReady(1), {}, true, 2, S_OK, 256, {0, 0x42}, 2, 50},
        {NotReady(6), {}, true, 2, S_OK, 256, {0, 0x42}, 7, 3150},
        {NotReady(100), {}, true, 2, S_OK, 256, {0, 0}, 7, 3150},
    };
    // clang-format on
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto& [camera, lying, mailbox, requested, code, replied, byte, reads, slept] =
            rows[i];
        SCOPED_TRACE(i);
        CMtxGraph& graph = Select(camera, lying);
        Bytes buffer(256 + 16, 0);
        buffer[0] = 0x42, buffer[1] = 0x01, buffer[2] = 0x02;
        LONG length = requested;
        const auto before = clock_.SleptFor().count();
        EXPECT_EQ(code, mailbox ? graph.ExtensionUnitTransact(buffer.data(), &length)
                                : graph.SendRawCommand(buffer.data(), &length));
        EXPECT_EQ(replied, length);
        EXPECT_EQ(byte.second, buffer[byte.first]);
        EXPECT_EQ(Bytes(16, 0), Bytes(buffer.begin() + 256, buffer.end()));
        EXPECT_EQ(reads, lies_ ? lies_->mailbox_reads : device_->MailboxReads());
        EXPECT_EQ(slept, clock_.SleptFor().count() - before);
    }
}

// Fast forward and rewind while playing become the fastest modes; other modes go as they are,
// modes outside the table not at all.
TEST_F(CameraTest, TransportModesFollowTheTable) {
    CMtxGraph& graph = Select(zrf::sim::FwIrPreset());
    for (LONG mode : std::initializer_list<LONG>{
             ED_MODE_FF, ED_MODE_PLAY, ED_MODE_FF, ED_MODE_REW, ED_MODE_PLAY, ED_MODE_REW,
             ED_MODE_STOP, ED_MODE_FREEZE, ED_MODE_STEP_FWD, ED_MODE_STEP_REV,
             ED_MODE_PLAY_FASTEST_FWD, ED_MODE_PLAY_FASTEST_REV, 0x1234}) {
        EXPECT_EQ(S_OK, graph.SetTransportMode(mode));
    }
    EXPECT_EQ((std::vector<LONG>{0x10CC, 0x10C8, 0x13A5, 0x10CD, 0x10C8, 0x13A7, 0x10C9, 0x10CA,
                                 0x10D0, 0x1329, 0x13A5, 0x13A7}),
              device_->TransportModeRequests());
}

// A device's moniker that binds as the listed one does but gives no display name: it leaves the
// name it was asked for null and answers as told (a failure, or success all the same).
class NamelessMoniker final : public zrf::com::ComObject<IMoniker> {
  public:
    NamelessMoniker(IMoniker* listed, HRESULT answer) : listed_(listed), answer_(answer) {}
    HRESULT BindToObject(IBindCtx* context, IMoniker* left, REFIID iid, void** out) override {
        return listed_->BindToObject(context, left, iid, out);
    }
    HRESULT BindToStorage(IBindCtx* context, IMoniker* left, REFIID iid, void** out) override {
        return listed_->BindToStorage(context, left, iid, out);
    }
    HRESULT GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR*) override { return answer_; }

  private:
    void* FindInterface(REFIID iid) override {
        return iid == IID_IMoniker ? static_cast<IMoniker*>(this) : nullptr;
    }
    ComPtr<IMoniker> listed_;
    const HRESULT answer_;
};

// The serial from the property, else from the display name: hexadecimal digits ahead of
// "17F4000", read in reversed pairs; none when neither gives one.
TEST_F(CameraTest, SerialComesFromThePropertyOrFromTheDisplayName) {
    CMtxGraph graph;
    struct Case {
        zrf::sim::VideoDeviceSettings (*preset)();
        LONG serial;
        LONG withoutName;  // when the moniker gives no display name
    };
    for (const auto& [preset, serial, withoutName] : {Case{&zrf::sim::UsbIrPreset, 1234567, 1234567},
                                                      Case{&zrf::sim::UsbIrJlsPreset, 0x0012D687, 0},
                                                      Case{&zrf::sim::WebcamPreset, 0, 0}}) {
        DevicePtr device = AddDevice(preset());  // the only one listed
        ComPtr<ICreateDevEnum> devices;
        CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                         devices.ReceiveVoid());
        ComPtr<IEnumMoniker> monikers;
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0);
        ComPtr<IMoniker> moniker;
        ASSERT_EQ(S_OK, monikers->Next(1, moniker.Receive(), nullptr));
        EXPECT_EQ(serial, graph.ReadDeviceSerial(moniker.Get()));
        EXPECT_EQ(1, device.use_count());  // the lookup lets go of the filter it bound
        for (const HRESULT answer : {E_OUTOFMEMORY, S_OK}) {
            auto nameless = zrf::com::MakeCom<NamelessMoniker>(moniker.Get(), answer);
            EXPECT_EQ(withoutName, graph.ReadDeviceSerial(nameless.Get())) << std::hex << answer;
        }
    }
    EXPECT_EQ(0, graph.ReadDeviceSerial(nullptr));
    const std::pair<const wchar_t*, LONG> names[] = {
        {L"@device:pnp:\\\\?\\usb#vid_1&pid_2#1234567817f40001#{x}", 0x78563412},
        {L"a#b#1217F4000#c", 0x12000000},  // two digits: the most significant byte
        {L"a#b#17F4000123#c", 0},
        {L"a#b#12345678#c", 0},
        {L"a#b#000000FF17F4000#c", 0x7FFFFFFF},    // above the largest signed value: saturated
        {L"a#b#12000000FFFF17F4000", 0x00000012},  // the first eight characters count
        {L"#1217F4000#x", 0},  // a name that starts with '#' keeps its first part
        {L"#x#1217F4000", 0x12000000},
        {L"a#b#G012000017F4000", 0x12},  // digits up to the first other character
        {L"", 0},
    };
    for (const auto& [name, serial] : names)
        EXPECT_EQ(serial, zrf::capture::SerialFromDisplayName(name)) << name;
}

}  // namespace
}  // namespace CaptureTest
