#include <gtest/gtest.h>

#include "sim/video/capture_source_filter.h"
#include "sim/video/video_presets.h"
#include "tests/platform/dshow/graph_fixture.h"

namespace {

using namespace zrf::testing;
using zrf::sim::PROPSETID_MakerCamera;
using zrf::sim::PROPSETID_MakerExtensionUnit;
using zrf::sim::SimulatedVideoDevice;

DWORD Word(const BYTE* data, std::size_t offset) {
    DWORD value = 0;
    std::memcpy(&value, data + offset, 4);
    return value;
}

class CameraPropertyTest : public ::testing::Test {
  protected:
    void Open(zrf::sim::VideoDeviceSettings settings) {
        device_ = SimulatedVideoDevice::Create(std::move(settings));
        source_ = BindDevice(*device_);
        ASSERT_EQ(S_OK, PinOf(source_.Get(), PINDIR_OUTPUT).As(IID_IKsPropertySet, properties_));
    }

    std::shared_ptr<SimulatedVideoDevice> device_;
    ComPtr<IBaseFilter> source_;
    ComPtr<IKsPropertySet> properties_;
};

TEST_F(CameraPropertyTest, FrameRateListComesAsMultipleItems) {
    Open(zrf::sim::UsbIrPreset());
    DWORD support = 0;
    ASSERT_EQ(S_OK, properties_->QuerySupported(PROPSETID_VIDCAP_VIDEOCONTROL,
                                                KSPROPERTY_VIDEOCONTROL_FRAME_RATES, &support));
    EXPECT_EQ(KSPROPERTY_SUPPORT_GET, support);
    BYTE instance[40] = {};
    BYTE data[100] = {};
    DWORD returned = 0;
    ASSERT_EQ(S_OK,
              properties_->Get(PROPSETID_VIDCAP_VIDEOCONTROL, KSPROPERTY_VIDEOCONTROL_FRAME_RATES,
                               instance, sizeof instance, data, sizeof data, &returned));
    EXPECT_EQ(8u + 3 * 8, returned);
    EXPECT_EQ(3u, Word(data, 4));
    LONGLONG second = 0;
    std::memcpy(&second, data + 16, 8);
    EXPECT_EQ(666666, second);
}

TEST_F(CameraPropertyTest, ATooSmallFrameRateBufferIsNotOverrun) {
    Open(zrf::sim::UsbIrPreset());
    BYTE data[20];
    std::memset(data, 0xAB, sizeof data);
    DWORD returned = 0;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_MORE_DATA),
              properties_->Get(PROPSETID_VIDCAP_VIDEOCONTROL, KSPROPERTY_VIDEOCONTROL_FRAME_RATES,
                               nullptr, 0, data, 16, &returned));
    EXPECT_EQ(32u, returned);
    EXPECT_EQ(0xAB, data[0]);
}

TEST_F(CameraPropertyTest, ACameraWithoutTheFrameRatePropertySaysSo) {
    Open(zrf::sim::UsbIrJlsPreset());
    DWORD support = 0;
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED,
              properties_->QuerySupported(PROPSETID_VIDCAP_VIDEOCONTROL,
                                          KSPROPERTY_VIDEOCONTROL_FRAME_RATES, &support));
}

TEST_F(CameraPropertyTest, DeviceInformationAndSerial) {
    Open(zrf::sim::UsbIrPreset());
    BYTE instance[260] = {};
    BYTE data[260] = {};
    DWORD returned = 0;
    ASSERT_EQ(S_OK, properties_->Get(PROPSETID_MakerCamera, 1, instance, sizeof instance, data,
                                     sizeof data, &returned));
    EXPECT_EQ(1u, Word(data, 4));
    EXPECT_EQ(0x00010002u, Word(data, 8));
    EXPECT_STREQ("Thermal USB Camera", reinterpret_cast<const char*>(data + 24));
    BYTE serial[8] = {};
    ASSERT_EQ(S_OK, properties_->Get(PROPSETID_MakerCamera, 2, serial, 8, serial, 8, &returned));
    EXPECT_EQ(1234567u, Word(serial, 4));
}

TEST_F(CameraPropertyTest, ACameraWithoutSerialPropertyRefusesIt) {
    Open(zrf::sim::UsbIrJlsPreset());
    DWORD support = 0;
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED,
              properties_->QuerySupported(PROPSETID_MakerCamera, 2, &support));
    BYTE data[8] = {};
    DWORD returned = 0;
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED,
              properties_->Get(PROPSETID_MakerCamera, 2, data, 8, data, 8, &returned));
}

TEST_F(CameraPropertyTest, ModeValueIsReadAndWrittenOnTheDevice) {
    Open(zrf::sim::UsbIrPreset());
    DWORD support = 0;
    ASSERT_EQ(S_OK, properties_->QuerySupported(PROPSETID_MakerCamera, 3, &support));
    EXPECT_EQ(KSPROPERTY_SUPPORT_GET | KSPROPERTY_SUPPORT_SET, support);
    DWORD value = 7;
    ASSERT_EQ(S_OK, properties_->Set(PROPSETID_MakerCamera, 3, &value, 4, &value, 4));
    EXPECT_EQ(7u, device_->ModeValue());
    DWORD read = 0;
    DWORD returned = 0;
    ASSERT_EQ(S_OK, properties_->Get(PROPSETID_MakerCamera, 3, nullptr, 0, &read, 4, &returned));
    EXPECT_EQ(7u, read);
    EXPECT_EQ(E_INVALIDARG, properties_->Set(PROPSETID_MakerCamera, 3, &value, 4, &value, 2));
}

TEST_F(CameraPropertyTest, AReadOnlyModeValueRefusesWrites) {
    auto settings = zrf::sim::UsbIrPreset();
    settings.maker_properties->mode_writable = false;
    Open(settings);
    DWORD value = 3;
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED,
              properties_->Set(PROPSETID_MakerCamera, 3, &value, 4, &value, 4));
    EXPECT_EQ(2u, device_->ModeValue());
}

TEST_F(CameraPropertyTest, RawCommandsAnswerThroughTheSameBuffer) {
    auto settings = zrf::sim::UsbIrPreset();
    settings.maker_properties->raw_command = [](const BYTE* request, std::size_t length) {
        std::vector<BYTE> reply(request, request + length);
        reply.push_back(0x99);
        return reply;
    };
    Open(settings);
    BYTE buffer[260] = {};
    DWORD length = 3;
    std::memcpy(buffer, &length, 4);
    buffer[4] = 1;
    buffer[5] = 2;
    buffer[6] = 3;
    DWORD returned = 0;
    ASSERT_EQ(S_OK, properties_->Get(PROPSETID_MakerCamera, 0, buffer, sizeof buffer, buffer,
                                     sizeof buffer, &returned));
    EXPECT_EQ(4u, Word(buffer, 0));
    EXPECT_EQ(0x99, buffer[7]);
    EXPECT_EQ(1, buffer[4]);
}

TEST_F(CameraPropertyTest, ARawCommandLongerThanItsBufferIsCut) {
    Open(zrf::sim::UsbIrPreset());
    BYTE instance[8] = {};
    DWORD claimed = 1000;  // more than the instance holds
    std::memcpy(instance, &claimed, 4);
    BYTE data[6] = {};
    DWORD returned = 0;
    ASSERT_EQ(S_OK, properties_->Get(PROPSETID_MakerCamera, 0, instance, sizeof instance, data,
                                     sizeof data, &returned));
    EXPECT_EQ(2u, Word(data, 0));
    EXPECT_EQ(6u, returned);
}

TEST_F(CameraPropertyTest, UnknownSetsAndPropertiesAreRefused) {
    Open(zrf::sim::WebcamPreset());
    DWORD support = 0;
    EXPECT_EQ(E_PROP_SET_UNSUPPORTED,
              properties_->QuerySupported(PROPSETID_MakerCamera, 1, &support));
    BYTE data[4];
    DWORD returned = 0;
    EXPECT_EQ(E_PROP_SET_UNSUPPORTED,
              properties_->Get(PROPSETID_MakerCamera, 3, nullptr, 0, data, 4, &returned));
}

TEST_F(CameraPropertyTest, DroppedFramesAreReported) {
    auto settings = zrf::sim::UsbIrPreset();
    settings.dropped_frames = 4;
    Open(settings);
    ComPtr<IAMDroppedFrames> dropped;
    ASSERT_EQ(S_OK, PinOf(source_.Get(), PINDIR_OUTPUT).As(IID_IAMDroppedFrames, dropped));
    LONG count = 0;
    ASSERT_EQ(S_OK, dropped->GetNumDropped(&count));
    EXPECT_EQ(4, count);
    device_->SetDroppedFrames(9);
    ASSERT_EQ(S_OK, dropped->GetNumDropped(&count));
    EXPECT_EQ(9, count);
}

// ---- The extension unit's mailbox ----

KSP_NODE MailboxRequest(ULONG flags, ULONG node) {
    KSP_NODE request{};
    request.Property.Set = PROPSETID_MakerExtensionUnit;
    request.Property.Id = 1;
    request.Property.Flags = flags | KSPROPERTY_TYPE_TOPOLOGY;
    request.NodeId = node;
    return request;
}

TEST_F(CameraPropertyTest, TheExtensionUnitIsTheFirstVendorSpecificNode) {
    auto settings = zrf::sim::UsbIrPreset();
    settings.extension_unit->nodes_before.push_back(GUID_NULL);  // unreadable
    Open(settings);
    ComPtr<IKsTopologyInfo> topology;
    ASSERT_EQ(S_OK, source_.As(IID_IKsTopologyInfo, topology));
    DWORD nodes = 0;
    ASSERT_EQ(S_OK, topology->get_NumNodes(&nodes));
    EXPECT_EQ(4u, nodes);
    GUID type{};
    EXPECT_EQ(E_FAIL, topology->get_NodeType(2, &type));
    ASSERT_EQ(S_OK, topology->get_NodeType(3, &type));
    EXPECT_EQ(KSNODETYPE_DEV_SPECIFIC, type);
    EXPECT_EQ(E_INVALIDARG, topology->get_NodeType(4, &type));
}

TEST_F(CameraPropertyTest, MailboxRepliesAreNotReadyAtFirst) {
    Open(zrf::sim::UsbIrPreset());
    ComPtr<IKsControl> control;
    ASSERT_EQ(S_OK, source_.As(IID_IKsControl, control));
    BYTE buffer[256] = {0x10, 0x20};
    ULONG returned = 0;
    KSP_NODE write = MailboxRequest(KSPROPERTY_TYPE_SET, 2);
    ASSERT_EQ(S_OK, control->KsProperty(&write.Property, sizeof write, buffer, 256, &returned));
    KSP_NODE read = MailboxRequest(KSPROPERTY_TYPE_GET, 2);
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::memset(buffer, 0xFF, sizeof buffer);
        ASSERT_EQ(S_OK, control->KsProperty(&read.Property, sizeof read, buffer, 256, &returned));
        EXPECT_EQ(0, buffer[0]);
        EXPECT_EQ(0, buffer[1]);
    }
    ASSERT_EQ(S_OK, control->KsProperty(&read.Property, sizeof read, buffer, 256, &returned));
    EXPECT_EQ(256u, returned);
    EXPECT_EQ(0x10, buffer[0]);
    EXPECT_EQ(0x20, buffer[1]);
    EXPECT_EQ(3, device_->MailboxReads());
}

TEST_F(CameraPropertyTest, MailboxRequestsMustNameTheUnit) {
    Open(zrf::sim::UsbIrPreset());
    ComPtr<IKsControl> control;
    ASSERT_EQ(S_OK, source_.As(IID_IKsControl, control));
    BYTE buffer[256] = {};
    ULONG returned = 0;
    KSP_NODE wrong_node = MailboxRequest(KSPROPERTY_TYPE_GET, 0);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND),
              control->KsProperty(&wrong_node.Property, sizeof wrong_node, buffer, 256, &returned));
    KSP_NODE no_node = MailboxRequest(KSPROPERTY_TYPE_GET, 2);
    EXPECT_EQ(E_INVALIDARG,
              control->KsProperty(&no_node.Property, sizeof(KSPROPERTY), buffer, 256, &returned));
    KSP_NODE too_long = MailboxRequest(KSPROPERTY_TYPE_GET, 2);
    EXPECT_EQ(E_INVALIDARG,
              control->KsProperty(&too_long.Property, sizeof too_long, buffer, 257, &returned));
}

TEST_F(CameraPropertyTest, CamerasWithoutAnExtensionUnitHaveNoNodeControl) {
    Open(zrf::sim::WebcamPreset());
    ComPtr<IKsControl> control;
    EXPECT_EQ(E_NOINTERFACE, source_.As(IID_IKsControl, control));
    ComPtr<IKsTopologyInfo> topology;
    EXPECT_EQ(E_NOINTERFACE, source_.As(IID_IKsTopologyInfo, topology));
}

// ---- Tape transport ----

TEST_F(CameraPropertyTest, TransportModesAreRecorded) {
    device_ = SimulatedVideoDevice::Create(zrf::sim::FwIrPreset());
    source_ = BindDevice(*device_);
    ComPtr<IAMExtTransport> transport;
    ASSERT_EQ(S_OK, source_.As(IID_IAMExtTransport, transport));
    LONG mode = 0;
    ASSERT_EQ(S_OK, transport->get_Mode(&mode));
    EXPECT_EQ(ED_MODE_STOP, mode);
    EXPECT_EQ(S_OK, transport->put_Mode(ED_MODE_PLAY));
    EXPECT_EQ(S_OK, transport->put_Mode(ED_MODE_PLAY_FASTEST_FWD));
    EXPECT_EQ((std::vector<LONG>{0x10C8, 0x13A5}), device_->TransportModeRequests());
    ASSERT_EQ(S_OK, transport->get_Mode(&mode));
    EXPECT_EQ(0x13A5, mode);
}

TEST_F(CameraPropertyTest, RawTransportCommandsAnswerInPlace) {
    auto settings = zrf::sim::FwIrPreset();
    settings.maker_properties = zrf::sim::MakerPropertySettings{};
    settings.maker_properties->raw_command = [](const BYTE* request, std::size_t length) {
        std::vector<BYTE> reply(length + 10, 0x55);  // longer than the request
        reply[0] = static_cast<BYTE>(request[0] + 1);
        return reply;
    };
    device_ = SimulatedVideoDevice::Create(settings);
    source_ = BindDevice(*device_);
    ComPtr<IAMExtTransport> transport;
    ASSERT_EQ(S_OK, source_.As(IID_IAMExtTransport, transport));
    BYTE buffer[8] = {4, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE};
    LONG length = 4;
    ASSERT_EQ(S_OK, transport->GetTransportBasicParameters(ED_RAW_EXT_DEV_CMD, &length,
                                                           reinterpret_cast<LPOLESTR*>(buffer)));
    EXPECT_EQ(4, length);
    EXPECT_EQ(5, buffer[0]);
    EXPECT_EQ(0xEE, buffer[4]);  // nothing written past the request
    EXPECT_EQ(E_NOTIMPL, transport->GetTransportBasicParameters(1, &length, nullptr));
}

}  // namespace
