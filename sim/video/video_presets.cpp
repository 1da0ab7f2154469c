#include "sim/video/video_presets.h"

namespace zrf::sim {
namespace {

// 30, 15 and 7.5 frames per second.
const std::vector<REFERENCE_TIME> kUsbIntervals = {333333, 666666, 1333333};
// 60 down to 3.75 frames per second, halving.
const std::vector<REFERENCE_TIME> kJlsIntervals = {166666, 333333, 666666, 1333333, 2666666};

// Unit types a camera lists before its vendor-specific unit: camera terminal, processing unit.
constexpr GUID kCameraTerminalNode = {
    0xDFF229E1, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
constexpr GUID kProcessingUnitNode = {
    0xDFF229E5, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

// A JPEG-LS sample is never larger than the raw frame plus its length prefix and header.
VideoFormat Compressed(const GUID& subtype, LONG width, LONG height, DWORD image_size,
                       std::vector<REFERENCE_TIME> intervals) {
    VideoFormat format{subtype, width, height, 16, image_size, std::move(intervals)};
    return format;
}

MakerPropertySettings CameraProperties(std::string text, std::optional<DWORD> serial) {
    MakerPropertySettings maker;
    maker.info_word = 1;
    maker.info_words[0] = 0x00010002;  // firmware
    maker.info_words[1] = 0x00000640;  // detector width and height
    maker.info_words[2] = 0x000001E0;
    maker.info_words[3] = 0;
    maker.info_text = std::move(text);
    maker.serial = serial;
    return maker;
}

ExtensionUnitSettings ExtensionUnit() {
    ExtensionUnitSettings unit;
    unit.nodes_before = {kCameraTerminalNode, kProcessingUnitNode};
    unit.not_ready_reads = 2;
    return unit;
}

}  // namespace

VideoDeviceSettings UsbIrPreset() {
    VideoDeviceSettings s;
    s.device_path =
        L"\\\\?\\usb#vid_2f1e&pid_0a10&mi_00#7&1c2d3e4f&0&0000#"
        L"{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
    s.friendly_name = L"Thermal USB Camera";
    // Radiometric frames carry their header in the last rows: 640 x 480 plus 3 rows.
    s.formats = {
        {kSubtypeF7M0, 640, 483, 16, 0, kUsbIntervals},
        Compressed(kSubtypeMJLS, 640, 480, 640 * 483 * 2 + 4, kUsbIntervals),
        {kSubtypeYUY2, 640, 480, 16, 0, kUsbIntervals},
        Compressed(kSubtypeMJPG, 640, 480, 640 * 480 * 3, kUsbIntervals),
    };
    s.video_control_frame_intervals = kUsbIntervals;
    s.maker_properties = CameraProperties("Thermal USB Camera", 1234567);
    s.extension_unit = ExtensionUnit();
    return s;
}

VideoDeviceSettings UsbIrJlsPreset() {
    VideoDeviceSettings s;
    // The instance part carries the serial number ahead of "17f4000": 0x0012D687.
    s.device_path =
        L"\\\\?\\usb#vid_2f1e&pid_0a20&mi_00#87d6120017f40001#"
        L"{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
    s.friendly_name = L"Thermal USB Camera JLS";
    s.formats = {Compressed(kSubtypeMJLS, 320, 240, 320 * 246 * 2 + 4, kJlsIntervals)};
    // No frame-rate property: rates come from the stream capabilities.
    s.maker_properties = CameraProperties("Thermal USB Camera JLS", std::nullopt);
    s.extension_unit = ExtensionUnit();
    return s;
}

VideoDeviceSettings FwIrPreset() {
    VideoDeviceSettings s;
    s.device_path = L"\\\\?\\1394#4e8a&1a2b3c4d&0#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
    s.friendly_name = L"Thermal IEEE-1394 Camera";
    // Windowing at 2 and 4 fields packs that many fields into one sample of this size.
    s.formats = {
        {kSubtypeF7M2, 640, 480, 16, 0, {333333, 666666}},
        {kSubtypeF7M0, 640, 480, 16, 0, {333333, 666666}},
    };
    // Raw commands go through the transport interface on this bus.
    s.transport = TransportSettings{};
    return s;
}

VideoDeviceSettings WebcamPreset() {
    VideoDeviceSettings s;
    s.device_path =
        L"\\\\?\\usb#vid_1d6b&pid_0c45&mi_00#6&2b3c4d5e&0&0000#"
        L"{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
    s.friendly_name = L"USB Web Camera";
    s.formats = {
        {kSubtypeYUY2, 640, 480, 16, 0, {333333, 666666}},
        Compressed(kSubtypeMJPG, 640, 480, 640 * 480 * 3, {333333, 666666}),
    };
    return s;
}

std::vector<std::string> PresetNames() {
    return {"usb-ir", "usb-ir-jls", "fw-ir", "webcam"};
}

std::optional<VideoDeviceSettings> PresetByName(std::string_view name) {
    if (name == "usb-ir") return UsbIrPreset();
    if (name == "usb-ir-jls") return UsbIrJlsPreset();
    if (name == "fw-ir") return FwIrPreset();
    if (name == "webcam") return WebcamPreset();
    return std::nullopt;
}

}  // namespace zrf::sim
