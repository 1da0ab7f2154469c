#include <gtest/gtest.h>

#include "plugin/capture_device.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {

// Reads the device's private state for the tests.
class CaptureDeviceInspector {
public:
    explicit CaptureDeviceInspector(CaptureDevice& d) : d_(d) {}
    bool HasChannel() const { return d_.commander != nullptr; }
    bool HasGraph() const { return d_.captureGraph != nullptr; }
    bool HasStream() const { return d_.imageStream != nullptr; }
    bool HasRecorder() const { return d_.recorder != nullptr; }
    bool HasIdentity() const { return d_.identity.has_value(); }
    int FocusType() const { return d_.focusType; }
    bool FocusAvailable() const { return d_.focusAvailable; }
    int FocusMinCache() const { return d_.focusMinCache; }
    int FocusMaxCache() const { return d_.focusMaxCache; }
    int WindowingFields() const { return d_.windowingFields; }
    bool IsSupported() const { return d_.isSupported; }
    bool Disposed() const { return d_.disposed; }
    std::uint32_t FrameCount() const { return d_.frameCount; }
    std::size_t FrameBufferSize() const { return d_.frameBuffer.size(); }

private:
    CaptureDevice& d_;
};

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
