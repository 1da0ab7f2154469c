// The camera's controls below the graph: the maker's property set, the mailbox, tape
// transport, the serial number and the transform's property pages. Every length a camera
// reports stays inside the buffer it arrived in.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "capture/capture_ids.h"
#include "capture/device_serial.h"
#include "imaging/media_subtypes.h"
#include "platform/dshow/property_frame.h"
#include "platform/dshow/transform_filters.h"
#include "platform/time/test_clock.h"
#include "tests/capture/capture_fixture.h"
#include "tests/capture/lying_camera.h"

namespace CaptureTest {
namespace {

using zrf::capture::SerialFromDisplayName;

class CameraPropertyTest : public ::testing::Test {
  protected:
    void Open(zrf::sim::VideoDeviceSettings settings) {
        device_ = AddDevice(std::move(settings));
        ASSERT_EQ(S_OK, graph_.SelectDevice(device_->Settings().device_path, L"0", false));
    }

    Platform::TestClock clock_;
    Platform::TestClockScope scope_{clock_};
    DevicePtr device_;
    CMtxGraph graph_;
};

TEST_F(CameraPropertyTest, DeviceInformationAndModeValueAreReadAtSelection) {
    auto settings = zrf::sim::UsbIrPreset();
    settings.maker_properties->info_word = 9;
    Open(settings);
    device_->SetModeValue(5);  // the graph read it before
    EXPECT_EQ(9u, graph_.DeviceInfoWord());
    EXPECT_EQ("Thermal USB Camera", graph_.DeviceInfoText());
    DWORD words[4] = {};
    EXPECT_EQ(S_OK, graph_.GetDeviceInfo(&words[0], &words[1], &words[2], &words[3]));
    EXPECT_EQ(0x00010002u, words[0]);
    EXPECT_EQ(0x000001E0u, words[2]);
    EXPECT_EQ(2u, graph_.ModeValue());

    // A text that fills its block to the end stops there.
    LyingCameraSettings lying;
    lying.offered.push_back(OfferedType(kSubtypeF7M0, 640, 483));  // a video pin to ask
    lying.info_reply.assign(zrf::capture::kPropBlockSize, 'T');
    LyingCamera camera(std::move(lying));
    CMtxGraph graph;
    ASSERT_EQ(S_OK, graph.SelectDevice(camera.Path(), L"0", false));
    EXPECT_EQ(std::string(zrf::capture::kPropBlockSize - 24, 'T'), graph.DeviceInfoText());
}

TEST_F(CameraPropertyTest, ModeValueIsWrittenOnlyWhereTheCameraAllowsIt) {
    EXPECT_EQ(S_FALSE, graph_.WriteModeValue(4));  // nothing selected
    auto settings = zrf::sim::UsbIrPreset();
    settings.device_path += L"#ro";
    settings.maker_properties->mode_writable = false;
    Open(settings);
    EXPECT_EQ(S_OK, graph_.WriteModeValue(3));  // the support query's code, nothing written
    EXPECT_EQ(2u, device_->ModeValue());
    EXPECT_EQ(2u, graph_.ModeValue());
    CMtxGraph writable;
    DevicePtr device = AddDevice(zrf::sim::UsbIrPreset());
    ASSERT_EQ(S_OK, writable.SelectDevice(device->Settings().device_path, L"0", false));
    EXPECT_EQ(S_OK, writable.WriteModeValue(7));
    EXPECT_EQ(7u, device->ModeValue());
    EXPECT_EQ(7u, writable.ModeValue());
    // A web camera's pin has a property-set interface, without the maker's set behind it.
    CMtxGraph webcam;
    DevicePtr other = AddDevice(zrf::sim::WebcamPreset());
    ASSERT_EQ(S_OK, webcam.SelectDevice(other->Settings().device_path, L"0", false));
    EXPECT_EQ(1u, webcam.DeviceInfoWord());
    EXPECT_EQ(E_PROP_SET_UNSUPPORTED, webcam.WriteModeValue(4));
}

// Through the maker's property set, else through the tape transport, else not at all.
TEST_F(CameraPropertyTest, RawCommandsTakeTheChannelTheCameraHas) {
    BYTE buffer[256] = {};
    LONG length = 1;
    EXPECT_EQ(S_FALSE, graph_.SendRawCommand(buffer, &length));
    EXPECT_EQ(E_POINTER, graph_.SendRawCommand(nullptr, &length));

    auto usb = zrf::sim::UsbIrPreset();
    usb.maker_properties->raw_command = [](const BYTE* request, std::size_t n) {
        std::vector<BYTE> reply(request, request + n);
        reply.push_back(0x99);
        return reply;
    };
    Open(usb);
    BYTE request[256] = {1, 2, 3};
    length = 3;
    EXPECT_EQ(S_OK, graph_.SendRawCommand(request, &length));
    EXPECT_EQ(4, length);
    EXPECT_EQ(0x99, request[3]);

    auto fw = zrf::sim::FwIrPreset();
    fw.maker_properties.reset();
    DevicePtr device = AddDevice(fw);
    CMtxGraph tape;
    ASSERT_EQ(S_OK, tape.SelectDevice(fw.device_path, L"0", false));
    BYTE answered[256] = {7, 8};
    length = 2;
    EXPECT_EQ(S_OK, tape.SendRawCommand(answered, &length));
    EXPECT_EQ(2, length);
    EXPECT_EQ(7, answered[0]);
}

// The response's length word and the length returned both claim 100000 bytes.
TEST_F(CameraPropertyTest, RawCommandResponseStaysInsideItsBlock) {
    LyingCameraSettings settings;
    settings.offered.push_back(OfferedType(kSubtypeF7M0, 640, 483));
    settings.raw_reply.assign(260, 0xEE);
    const DWORD claimed = 100000;
    std::memcpy(settings.raw_reply.data(), &claimed, 4);
    settings.raw_returned = 100000;
    LyingCamera camera(std::move(settings));
    ASSERT_EQ(S_OK, graph_.SelectDevice(camera.Path(), L"0", false));
    std::vector<BYTE> buffer(256 + 16, 0);
    LONG length = 5000;  // longer than a request can be
    EXPECT_EQ(S_OK, graph_.SendRawCommand(buffer.data(), &length));
    EXPECT_EQ(256, length);
    EXPECT_EQ(0xEE, buffer[255]);
    EXPECT_EQ(0, buffer[256]);
}

// Replies not ready are read again after waits of 50, 100, 200 ... ms, seven reads at most.
TEST_F(CameraPropertyTest, MailboxReadsAgainAfterDoublingWaits) {
    for (int notReady : {0, 1, 2, 6, 100}) {
        auto settings = zrf::sim::UsbIrPreset();
        settings.device_path += std::to_wstring(notReady);
        settings.extension_unit->not_ready_reads = notReady;
        settings.extension_unit->nodes_before.push_back(GUID_NULL);  // a node that cannot be read
        DevicePtr device = AddDevice(settings);
        CMtxGraph graph;
        ASSERT_EQ(S_OK, graph.SelectDevice(settings.device_path, L"0", false));
        const auto sleptBefore = clock_.SleptFor().count();
        BYTE buffer[256] = {0x42, 0x01};
        LONG length = 2;
        EXPECT_EQ(S_OK, graph.ExtensionUnitTransact(buffer, &length));
        const int reads = std::min(notReady + 1, 7);
        EXPECT_EQ(reads, device->MailboxReads()) << notReady;
        EXPECT_EQ(50 * ((1 << (reads - 1)) - 1), clock_.SleptFor().count() - sleptBefore);
        EXPECT_EQ(notReady < 7 ? 0x42 : 0, buffer[0]) << notReady;
        EXPECT_EQ(256, length);
    }
}

TEST_F(CameraPropertyTest, MailboxFailuresAndLyingReplies) {
    BYTE buffer[256] = {1};
    LONG length = 1;
    EXPECT_EQ(E_FAIL, graph_.ExtensionUnitTransact(buffer, &length));  // nothing selected
    Open(zrf::sim::WebcamPreset());
    EXPECT_EQ(E_NOINTERFACE, graph_.ExtensionUnitTransact(buffer, &length));
    {
        LyingCameraSettings settings;
        settings.mailbox_read_result = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
        LyingCamera camera(std::move(settings));
        CMtxGraph graph;
        ASSERT_EQ(S_OK, graph.SelectDevice(camera.Path(), L"0", false));
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED),
                  graph.ExtensionUnitTransact(buffer, &length));
        EXPECT_EQ(1, camera.Log().mailbox_reads);
        EXPECT_EQ(0, clock_.SleptFor().count());
    }
    LyingCameraSettings settings;
    settings.mailbox_reply.assign(256, 0x11);
    settings.mailbox_returned = 100000;
    settings.topology_nodes = 0xFFFFFFFF;
    LyingCamera camera(std::move(settings));
    CMtxGraph graph;
    ASSERT_EQ(S_OK, graph.SelectDevice(camera.Path(), L"0", false));
    std::vector<BYTE> large(256 + 16, 0);
    length = 100000;
    EXPECT_EQ(S_OK, graph.ExtensionUnitTransact(large.data(), &length));
    EXPECT_EQ(256, length);
    EXPECT_EQ(0x11, large[255]);
    EXPECT_EQ(0, large[256]);
    EXPECT_EQ(1, camera.Log().mailbox_reads);
}

// Fast forward and rewind while playing become the fastest modes; other modes go as they are,
// modes outside the table not at all.
TEST_F(CameraPropertyTest, TransportModesFollowTheTable) {
    EXPECT_EQ(S_OK, graph_.SetTransportMode(ED_MODE_PLAY));  // no transport: nothing to do
    Open(zrf::sim::FwIrPreset());
    for (LONG mode : std::initializer_list<LONG>{
             ED_MODE_FF, ED_MODE_PLAY, ED_MODE_FF, ED_MODE_REW, ED_MODE_PLAY, ED_MODE_REW,
             ED_MODE_STOP, ED_MODE_FREEZE, ED_MODE_STEP_FWD, ED_MODE_STEP_REV,
             ED_MODE_PLAY_FASTEST_FWD, ED_MODE_PLAY_FASTEST_REV, 0x1234}) {
        EXPECT_EQ(S_OK, graph_.SetTransportMode(mode));
    }
    EXPECT_EQ((std::vector<LONG>{0x10CC, 0x10C8, 0x13A5, 0x10CD, 0x10C8, 0x13A7, 0x10C9, 0x10CA,
                                 0x10D0, 0x1329, 0x13A5, 0x13A7}),
              device_->TransportModeRequests());
}

// The serial the graph reads for every listed device, by display name.
std::map<std::wstring, LONG> SerialsByDisplayName(CMtxGraph& graph) {
    ComPtr<ICreateDevEnum> devices;
    CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                     devices.ReceiveVoid());
    ComPtr<IEnumMoniker> monikers;
    devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0);
    std::map<std::wstring, LONG> serials;
    for (ComPtr<IMoniker> moniker; monikers->Next(1, moniker.Receive(), nullptr) == S_OK;) {
        LPOLESTR name = nullptr;
        moniker->GetDisplayName(nullptr, nullptr, &name);
        serials[name] = graph.ReadDeviceSerial(moniker.Get());
        CoTaskMemFree(name);
    }
    return serials;
}

TEST_F(CameraPropertyTest, SerialComesFromThePropertyOrFromTheDisplayName) {
    DevicePtr usb = AddDevice(zrf::sim::UsbIrPreset());
    DevicePtr webcam = AddDevice(zrf::sim::WebcamPreset());
    DevicePtr jls = AddDevice(zrf::sim::UsbIrJlsPreset());
    auto serials = SerialsByDisplayName(graph_);
    EXPECT_EQ(1234567, serials[L"@device:pnp:" + usb->Settings().device_path]);
    EXPECT_EQ(0x0012D687, serials[L"@device:pnp:" + jls->Settings().device_path]);
    EXPECT_EQ(0, serials[L"@device:pnp:" + webcam->Settings().device_path]);
    EXPECT_EQ(0, graph_.ReadDeviceSerial(nullptr));
    EXPECT_EQ(1, jls.use_count());  // the lookup lets go of the filter it bound
}

// Hexadecimal digits ahead of "17F4000", read in reversed pairs.
TEST(SerialFromDisplayName, DigitsAheadOfTheMarkerInReversePairOrder) {
    const std::pair<const wchar_t*, LONG> cases[] = {
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
    for (const auto& [name, serial] : cases) EXPECT_EQ(serial, SerialFromDisplayName(name)) << name;
}

TEST_F(CameraPropertyTest, PropertyPagesOfTheTransform) {
    EXPECT_EQ(E_FAIL, graph_.ShowTransformPropertyPages(nullptr));
    zrf::com::ScopedClassOverride transform(
        zrf::capture::kClsidVornTransform,
        zrf::dshow::PassThroughFilterFactory(zrf::capture::kClsidVornTransform));
    Open(zrf::sim::UsbIrPreset());
    ASSERT_EQ(S_OK, graph_.SetMediaType(kSubtypeF7M0));
    ASSERT_EQ(S_OK, graph_.BuildCaptureGraph(false));
    const long shown = zrf::dshow::PropertyFramesShown();
    int owner = 0;
    EXPECT_EQ(S_OK, graph_.ShowTransformPropertyPages(&owner));
    EXPECT_EQ(shown + 1, zrf::dshow::PropertyFramesShown());
    const auto frame = zrf::dshow::LastPropertyFrame();
    EXPECT_EQ(&owner, frame.owner);
    EXPECT_EQ(L"VORNTransform", frame.caption);
    EXPECT_EQ(1u, frame.objects);
    EXPECT_EQ(1u, frame.pages.size());
    EXPECT_EQ(0u, frame.locale);
}

}  // namespace
}  // namespace CaptureTest
