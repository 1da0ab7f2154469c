#include "device_fixture.h"
#include "expect_exception.h"
#include "host/devices/framework_exceptions.h"
#include "imaging/media_subtypes.h"
#include "platform/dshow/dshow.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

class ConnectionTest : public DeviceTest {
  protected:
    std::string FailedConnect() {
        auto e = CatchExactly<DeviceConnectionFailedException>([this] { Connect(); });
        return e ? e->Message() : "";
    }
    void ExpectReleased() {
        EXPECT_FALSE(State().HasGraph() || State().HasChannel() || State().HasStream() ||
                     State().HasHandler() || device->Device_IsConnected());
    }
};

// Failures that release what was built, with the message thrown and the key logged.
TEST_F(ConnectionTest, FailuresThatReleaseEverything) {
    const std::string controlOnly = "\\\\?\\usb#control-only";
    zrf::sim::TreeRegistry::Register(controlOnly, std::make_shared<zrf::sim::ResourceTree>());
    // What, the preset, changes to the camera and to the identity, the message thrown, and the
    // key and text of the logged user error ("" when nothing is logged).
    using Case = std::tuple<const char*, const char*, const char*,
                            std::function<void(zrf::sim::CameraIdentity&)>, const char*,
                            const char*, const char*>;
    // clang-format off
    const Case cases[] = {
        {"unreachable registry", "usb-ir", "",
         [](auto& i) { i.hostname = "\\\\?\\usb#no-such-camera"; }, "Connect failed",
         "CAMERA_RTREE_CONNECT_ERROR", "Failed to connect to camera registry"},
        {"control side without a video side", "usb-ir", "",
         [&](auto& i) { i.hostname = controlOnly; }, "SelectDevice failed", "", ""},
        {"IEEE-1394 without radiometric formats", "fw-ir", "without-formats=F7M0,F7M2",
         {}, "SelectDevice failed", "CAMERA_ERROR_STREAMING_NOT_SUPPORTED",
         "Streaming from this camera is not supported"},
        {"unknown USB format", "usb-ir", "",
         [](auto& i) { i.selected_format_id = "00000000-0000-0000-0000-000000000000;IR;OTHER"; },
         "SetMediaType failed", "", ""},
        {"visual format not offered", "usb-ir-jls", "",
         [](auto& i) { i.selected_format_id = zrf::sim::kFormatIdYuy2; }, "SetMediaType failed",
         "", ""},
    };
    // clang-format on
    for (const auto& [what, preset, changes, change, message, key, text] : cases) {
        SCOPED_TRACE(what);
        if (!CameraOfThisBuild(preset)) continue;
        MakeCamera(preset, changes);
        if (change) change(identity);
        const std::size_t before = log.UserErrors().size();
        EXPECT_EQ(FailedConnect(), message);
        const auto errors = log.UserErrors();
        ASSERT_EQ(errors.size(), before + (*key ? 1 : 0));
        if (*key) {
            EXPECT_EQ(
                std::tuple(errors.back().key, errors.back().text, errors.back().arguments.size()),
                std::tuple(key, text, 0u));
        }
        ExpectReleased();
    }
    zrf::sim::TreeRegistry::Unregister(controlOnly);
}

#ifndef _WIN32
TEST_F(ConnectionTest, AGraphWithoutASampleGrabberFailsAndReleasesEverything) {
    MakeCamera("usb-ir");
    zrf::com::ScopedClassOverride noGrabber(CLSID_SampleGrabber, {});
    EXPECT_EQ(FailedConnect(), "Connect failed");
    EXPECT_TRUE(log.HasUserError("CAMERA_UNKNOWN_ERROR"));
    ExpectReleased();
}
#endif

TEST_F(ConnectionTest, RefusedLoginPassesTheChannelsErrorAndKeepsWhatWasBuilt) {
    MakeCamera("usb-ir", "password=other");
    EXPECT_THROW(Connect(), System::InvalidOperationException);
    const auto errors = log.UserErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].key + ": " + errors[0].text,
              "CAMERA_RTREE_AUTHENTICATE_ERROR: log in to camera failed");
    EXPECT_TRUE(State().HasGraph() && State().HasStream() && State().HasChannel());
}

TEST_F(ConnectionTest, AnIdentifierNamingNoTransportKeepsWhatWasBuilt) {
    MakeCamera("usb-ir");
    identity.identifier = "NORDA,Line_K,ZRF_XYZ,1.0.0,RTREE,1.0.0";
    EXPECT_EQ(FailedConnect(), "Connect failed. Unsupported image format");
    EXPECT_TRUE(State().HasGraph() && device->Device_IsConnected());  // the channel's own answer
    device->Device_Disconnect();
    ExpectReleased();
}

TEST_F(ConnectionTest, FormatEntriesMatchIgnoringCaseAndEmptyMeansRadiometric) {
    MakeCamera("usb-ir");
    std::string lower = zrf::sim::kFormatIdJpegPlain;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    identity.selected_format_id = lower;
    Connect();
    device->GrabContinous_Start();
    ASSERT_TRUE(events->WaitForImages(1));
    device->GrabContinous_Stop();
    const auto image = events->Images().front();
    ASSERT_GE(image.size(), 2u);
    EXPECT_EQ(image[0] << 8 | image[1], 0xFFD8);  // a JPEG passes through unchanged

    identity.selected_format_id = "";
    Connect();  // a second connect releases the first
    auto formats = device->Grab_EnumImageFormats().Elements("Format");
    ASSERT_EQ(formats.size(), 1u);
    EXPECT_EQ(formats[0].Attribute("Height"), "480");  // F7M0 at 640 x 483 without its header rows
}

TEST_F(ConnectionTest, WebCameraRules) {
    MakeCamera("webcam");
    identity.selected_format_id = zrf::sim::kFormatIdYuy2;
    Connect();
    EXPECT_TRUE(!State().HasChannel() && device->Device_IsConnected());
    EXPECT_EQ(device->Device_XMLData().Element("CameraInformation").Attribute("Name"), "N/A");
    device->Device_Disconnect();
    EXPECT_EQ(device->Device_Heartbeat(), HeartbeatState::Dead);

    // Only the exact model name makes a web camera: otherwise the channel is opened.
    identity.model_name = "webcam";
    EXPECT_EQ(FailedConnect(), "Connect failed");
    EXPECT_TRUE(log.HasUserError("CAMERA_RTREE_CONNECT_ERROR"));

    // An IEEE-1394 identifier would need the control channel the web camera lacks.
    identity.model_name = "WEBCAM";
    identity.identifier = "KOVA,Line_K,ZRF_FW,1.0.0,RTREE,1.0.0";
    EXPECT_EQ(FailedConnect(), "Connect failed");
    ExpectReleased();
}

TEST_F(ConnectionTest, DisconnectRulesAndDisposal) {
    MakeCamera("usb-ir");
    auto disconnect = [this] { device->Device_Disconnect(); };
    ExpectThrowsMessage<System::InvalidOperationException>(disconnect, "Not connected");
    Connect();
    device->Device_Disconnect();
    ExpectThrowsMessage<System::InvalidOperationException>(disconnect, "Not connected");
    device->Dispose();
    EXPECT_TRUE(State().Disposed());
    EXPECT_THROW(Connect(), System::ObjectDisposedException);
    ExpectReleased();
}

TEST_F(ConnectionTest, InformationDocument) {
    MakeCamera("usb-ir");
    EXPECT_FALSE(device->Device_XMLData().HasElements());
    Connect();
    XElement data = device->Device_XMLData();
    auto children = data.Elements();
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(
        std::tuple(children[0].Name(), children[0].Attribute("MaxNumberOfFramesInPreRecording"),
                   children[1].Name(), children[1].Attribute("FrameCount")),
        std::tuple("Recorder", "200", "CameraInformation", "0"));
    // Every field the camera tells, in its own place.
    const auto& camera = CameraTree()->Settings();
    const auto read = [&](const char* name) { return children[1].Attribute(name).value_or("?"); };
    EXPECT_EQ(std::vector({read("Name"), read("SerialNumber"), read("Article"), read("SWVersion"),
                           read("HWArticle")}),
              std::vector({camera.name, camera.serialNumber, camera.article, camera.swVersion, camera.hwArticle}));
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
