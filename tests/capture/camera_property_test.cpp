// The camera's controls below the graph: property set, mailbox, transport, serial number,
// property pages.
#include <gtest/gtest.h>

#include <cstring>

#include "capture/capture_ids.h"
#include "capture/device_serial.h"
#include "imaging/media_subtypes.h"
#include "platform/dshow/property_frame.h"
#include "platform/dshow/transform_filters.h"
#include "platform/time/test_clock.h"
#include "tests/capture/capture_fixture.h"
#include "tests/capture/lying_camera.h"
#include "tests/platform/dshow/graph_fixture.h"

namespace CaptureTest {
namespace {

using zrf::capture::SerialFromDisplayName;

class CameraPropertyTest : public ::testing::Test {
  protected:
    void Open(zrf::sim::VideoDeviceSettings settings) {
        device_ = AddDevice(std::move(settings));
        ASSERT_EQ(S_OK, graph_.SelectDevice(device_->Settings().device_path, L"0", false));
    }

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
}

TEST_F(CameraPropertyTest, WithoutThePropertySetNothingIsRead) {
    Open(zrf::sim::WebcamPreset());
    EXPECT_EQ(1u, graph_.DeviceInfoWord());
    EXPECT_EQ(2u, graph_.ModeValue());
    // The pin has a property-set interface, the maker's set is not behind it.
    EXPECT_EQ(E_PROP_SET_UNSUPPORTED, graph_.WriteModeValue(4));
    CMtxGraph unselected;
    EXPECT_EQ(S_FALSE, unselected.WriteModeValue(4));
}

TEST_F(CameraPropertyTest, ModeValueIsWrittenOnlyWhereTheCameraAllowsIt) {
    Open(zrf::sim::UsbIrPreset());
    EXPECT_EQ(S_OK, graph_.WriteModeValue(7));
    EXPECT_EQ(7u, device_->ModeValue());
    EXPECT_EQ(7u, graph_.ModeValue());

    CMtxGraph readOnly;
    auto settings = zrf::sim::UsbIrPreset();
    settings.device_path += L"#ro";
    settings.maker_properties->mode_writable = false;
    DevicePtr device = AddDevice(settings);
    ASSERT_EQ(S_OK, readOnly.SelectDevice(settings.device_path, L"0", false));
    EXPECT_EQ(S_OK, readOnly.WriteModeValue(3));  // the support query's code, nothing written
    EXPECT_EQ(2u, device->ModeValue());
    EXPECT_EQ(2u, readOnly.ModeValue());
}

TEST_F(CameraPropertyTest, RawCommandsGoThroughThePropertySet) {
    auto settings = zrf::sim::UsbIrPreset();
    settings.maker_properties->raw_command = [](const BYTE* request, std::size_t length) {
        std::vector<BYTE> reply(request, request + length);
        reply.push_back(0x99);
        return reply;
    };
    Open(settings);
    BYTE buffer[256] = {1, 2, 3};
    LONG length = 3;
    EXPECT_EQ(S_OK, graph_.SendRawCommand(buffer, &length));
    EXPECT_EQ(4, length);
    EXPECT_EQ(0x99, buffer[3]);
}

TEST_F(CameraPropertyTest, RawCommandsGoThroughTheTransportOnIeee1394) {
    auto settings = zrf::sim::FwIrPreset();
    settings.maker_properties.reset();
    Open(settings);
    BYTE buffer[256] = {7, 8};
    LONG length = 2;
    EXPECT_EQ(S_OK, graph_.SendRawCommand(buffer, &length));
    EXPECT_EQ(2, length);
    EXPECT_EQ(7, buffer[0]);
}

TEST_F(CameraPropertyTest, RawCommandWithNeitherChannelIsNotSent) {
    // The pin always has the property-set interface; a graph without one has nothing.
    CMtxGraph unselected;
    BYTE buffer[256] = {};
    LONG length = 1;
    EXPECT_EQ(S_FALSE, unselected.SendRawCommand(buffer, &length));
    EXPECT_EQ(E_POINTER, unselected.SendRawCommand(nullptr, &length));
}

TEST_F(CameraPropertyTest, RawCommandResponseLengthIsBoundedByItsBlock) {
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

class MailboxTest : public CameraPropertyTest {
  protected:
    Platform::TestClock clock_;
    Platform::TestClockScope scope_{clock_};
};

TEST_F(MailboxTest, RepliesNotReadyAreReadAgainAfterDoublingWaits) {
    // Waits 50, 100, 200, ...: the total after n replies that were not ready tells each one.
    for (int notReady = 0; notReady <= 6; ++notReady) {
        auto settings = zrf::sim::UsbIrPreset();
        settings.device_path += std::to_wstring(notReady);
        settings.extension_unit->not_ready_reads = notReady;
        DevicePtr device = AddDevice(settings);
        CMtxGraph graph;
        ASSERT_EQ(S_OK, graph.SelectDevice(settings.device_path, L"0", false));
        const auto sleptBefore = clock_.SleptFor().count();
        BYTE buffer[256] = {0x42, 0x01};
        LONG length = 2;
        EXPECT_EQ(S_OK, graph.ExtensionUnitTransact(buffer, &length));
        EXPECT_EQ(notReady + 1, device->MailboxReads());
        EXPECT_EQ(50 * ((1 << notReady) - 1), clock_.SleptFor().count() - sleptBefore);
        EXPECT_EQ(0x42, buffer[0]);
        EXPECT_EQ(256, length);
    }
}

TEST_F(MailboxTest, GivesUpAfterSevenReads) {
    auto settings = zrf::sim::UsbIrPreset();
    settings.extension_unit->not_ready_reads = 100;
    settings.extension_unit->nodes_before.push_back(GUID_NULL);  // a node that cannot be read
    Open(settings);
    BYTE buffer[256] = {0x42, 0x01};
    LONG length = 2;
    EXPECT_EQ(S_OK, graph_.ExtensionUnitTransact(buffer, &length));
    EXPECT_EQ(7, device_->MailboxReads());
    EXPECT_EQ(3150, clock_.SleptFor().count());
    EXPECT_EQ(0, buffer[0]);
    EXPECT_EQ(0, buffer[1]);
}

TEST_F(MailboxTest, WithoutTheUnitOrACaptureSource) {
    CMtxGraph unselected;
    BYTE buffer[256] = {};
    LONG length = 0;
    EXPECT_EQ(E_FAIL, unselected.ExtensionUnitTransact(buffer, &length));
    Open(zrf::sim::WebcamPreset());
    EXPECT_EQ(E_NOINTERFACE, graph_.ExtensionUnitTransact(buffer, &length));
}

TEST_F(MailboxTest, LyingRepliesStayInsideTheMailbox) {
    LyingCameraSettings settings;
    settings.mailbox_reply.assign(256, 0x11);
    settings.mailbox_returned = 100000;
    settings.topology_nodes = 0xFFFFFFFF;
    LyingCamera camera(std::move(settings));
    ASSERT_EQ(S_OK, graph_.SelectDevice(camera.Path(), L"0", false));
    std::vector<BYTE> buffer(256 + 16, 0);
    LONG length = 100000;
    EXPECT_EQ(S_OK, graph_.ExtensionUnitTransact(buffer.data(), &length));
    EXPECT_EQ(256, length);
    EXPECT_EQ(0x11, buffer[255]);
    EXPECT_EQ(0, buffer[256]);
    EXPECT_EQ(1, camera.Log().mailbox_reads);
}

TEST_F(MailboxTest, AFailingReadEndsTheTransaction) {
    LyingCameraSettings settings;
    settings.mailbox_read_result = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    LyingCamera camera(std::move(settings));
    ASSERT_EQ(S_OK, graph_.SelectDevice(camera.Path(), L"0", false));
    BYTE buffer[256] = {1};
    LONG length = 1;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED),
              graph_.ExtensionUnitTransact(buffer, &length));
    EXPECT_EQ(1, camera.Log().mailbox_reads);
    EXPECT_EQ(0, clock_.SleptFor().count());
}

TEST_F(CameraPropertyTest, TransportModesFollowTheTable) {
    Open(zrf::sim::FwIrPreset());
    EXPECT_EQ(S_OK, graph_.SetTransportMode(ED_MODE_FF));  // not playing: plain fast forward
    EXPECT_EQ(S_OK, graph_.SetTransportMode(ED_MODE_PLAY));
    EXPECT_EQ(S_OK, graph_.SetTransportMode(ED_MODE_FF));
    EXPECT_EQ(S_OK, graph_.SetTransportMode(ED_MODE_REW));  // now fastest forward: plain rewind
    EXPECT_EQ(S_OK, graph_.SetTransportMode(ED_MODE_PLAY));
    EXPECT_EQ(S_OK, graph_.SetTransportMode(ED_MODE_REW));
    for (LONG mode : {ED_MODE_STOP, ED_MODE_FREEZE, ED_MODE_STEP_FWD, ED_MODE_STEP_REV,
                      ED_MODE_PLAY_FASTEST_FWD, ED_MODE_PLAY_FASTEST_REV}) {
        EXPECT_EQ(S_OK, graph_.SetTransportMode(mode));
    }
    EXPECT_EQ(S_OK, graph_.SetTransportMode(0x1234));  // not in the table: nothing sent
    EXPECT_EQ((std::vector<LONG>{0x10CC, 0x10C8, 0x13A5, 0x10CD, 0x10C8, 0x13A7, 0x10C9, 0x10CA,
                                 0x10D0, 0x1329, 0x13A5, 0x13A7}),
              device_->TransportModeRequests());
}

TEST_F(CameraPropertyTest, TransportModeWithoutTransportIsANoOp) {
    Open(zrf::sim::WebcamPreset());
    EXPECT_EQ(S_OK, graph_.SetTransportMode(ED_MODE_PLAY));
}

TEST_F(CameraPropertyTest, SerialComesFromThePropertyOrFromTheDisplayName) {
    DevicePtr usb = AddDevice(zrf::sim::UsbIrPreset());
    DevicePtr jls = AddDevice(zrf::sim::UsbIrJlsPreset());
    DevicePtr webcam = AddDevice(zrf::sim::WebcamPreset());
    std::map<std::wstring, LONG> serials;
    for (const auto& moniker : zrf::testing::VideoInputMonikers()) {
        auto path = zrf::testing::ReadProperty(moniker.Get(), L"DevicePath");
        if (path) serials[*path] = graph_.ReadDeviceSerial(moniker.Get());
    }
    EXPECT_EQ(1234567, serials[usb->Settings().device_path]);
    EXPECT_EQ(0x0012D687, serials[jls->Settings().device_path]);
    EXPECT_EQ(0, serials[webcam->Settings().device_path]);
    EXPECT_EQ(0, graph_.ReadDeviceSerial(nullptr));
}

TEST(SerialFromDisplayName, DigitsAheadOfTheMarkerInReversePairOrder) {
    EXPECT_EQ(0x78563412,
              SerialFromDisplayName(L"@device:pnp:\\\\?\\usb#vid_1&pid_2#1234567817f40001#{x}"));
    // Two digits become the most significant byte.
    EXPECT_EQ(0x12000000, SerialFromDisplayName(L"a#b#1217F4000#c"));
    EXPECT_EQ(0, SerialFromDisplayName(L"a#b#17F4000123#c"));
    EXPECT_EQ(0, SerialFromDisplayName(L"a#b#12345678#c"));
    // Above the largest signed value: saturated.
    EXPECT_EQ(0x7FFFFFFF, SerialFromDisplayName(L"a#b#000000FF17F4000#c"));
    // More than eight characters: the first eight count.
    EXPECT_EQ(0x00000012, SerialFromDisplayName(L"a#b#12000000FFFF17F4000"));
    // A name that starts with '#' keeps its first part.
    EXPECT_EQ(0, SerialFromDisplayName(L"#1217F4000#x"));
    EXPECT_EQ(0x12000000, SerialFromDisplayName(L"#x#1217F4000"));
    // Digits up to the first other character count.
    EXPECT_EQ(0x12, SerialFromDisplayName(L"a#b#G012000017F4000"));
    EXPECT_EQ(0, SerialFromDisplayName(L""));
}

TEST_F(CameraPropertyTest, PropertyPagesOfTheTransform) {
    CMtxGraph noTransform;
    EXPECT_EQ(E_FAIL, noTransform.ShowTransformPropertyPages(nullptr));

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
    auto frame = zrf::dshow::LastPropertyFrame();
    EXPECT_EQ(&owner, frame.owner);
    EXPECT_EQ(L"VORNTransform", frame.caption);
    EXPECT_EQ(1u, frame.objects);
    EXPECT_EQ(1u, frame.pages.size());
    EXPECT_EQ(0u, frame.locale);
}

}  // namespace
}  // namespace CaptureTest
