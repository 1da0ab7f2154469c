#include "device_fixture.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {

namespace {

TEST(CaptureDeviceState, NewDeviceHoldsNothingAndHasTheDocumentedDefaults) {
    CaptureDevice device("NORDA,Line_K,ZRF_USB,1.0.0,RTREE,1.0.0");
    CaptureDeviceInspector state(device);
    EXPECT_EQ(device.Device_Identifier(), "NORDA,Line_K,ZRF_USB,1.0.0,RTREE,1.0.0");
    EXPECT_FALSE(state.HasChannel());
    EXPECT_FALSE(state.HasGraph());
    EXPECT_FALSE(state.HasStream());
    EXPECT_FALSE(state.HasRecorder());
    EXPECT_FALSE(state.HasIdentity());
    EXPECT_EQ(state.FocusType(), -1);
    EXPECT_TRUE(state.FocusAvailable());
    EXPECT_EQ(state.FocusMinCache(), 0);
    EXPECT_EQ(state.FocusMaxCache(), 0);
    EXPECT_EQ(state.WindowingFields(), 0);
    EXPECT_FALSE(state.IsSupported());
    EXPECT_FALSE(state.Disposed());
    EXPECT_EQ(state.FrameCount(), 0u);
    EXPECT_EQ(state.FrameBufferSize(), 0u);
    EXPECT_FALSE(device.GrabContinous_IsGrabbing());
    EXPECT_EQ(device.GrabContinous_LostFrames(), 0);
    EXPECT_EQ(device.GrabContinous_LapTime(), 0);
}

TEST(CaptureDeviceState, UnconnectedDeviceAnswersWithEmptyDocuments) {
    CaptureDevice device("TULA,Line_K,ZRF_USB,1.0.0,RTREE,1.0.0");
    XElement data = device.Device_XMLData();
    EXPECT_EQ(data.Name(), Entities::XmlUtils::XmlNames::DeviceXName);
    EXPECT_FALSE(data.HasElements());
    XElement formats = device.Grab_EnumImageFormats();
    EXPECT_FALSE(formats.HasElements());
    EXPECT_EQ(formats.Attribute("Selected"), "0");
    EXPECT_EQ(device.Grab_Grab(), nullptr);
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
