#include "device_fixture.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

TEST(CaptureDeviceState, ANewDeviceTouchesNothingAndAnswersWithEmptyDocuments) {
    CaptureDevice device("NORDA,Line_K,ZRF_USB,1.0.0,RTREE,1.0.0");
    CaptureDeviceInspector state(device);
    EXPECT_EQ(device.Device_Identifier(), "NORDA,Line_K,ZRF_USB,1.0.0,RTREE,1.0.0");
    EXPECT_FALSE(state.HasChannel() || state.HasGraph() || state.HasStream() ||
                 state.HasRecorder() || state.HasIdentity() || state.IsSupported());
    EXPECT_EQ(state.FocusType(), -1);
    EXPECT_TRUE(state.FocusAvailable());
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
