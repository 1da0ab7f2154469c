#include "sim/cameras/camera_presets.h"

#include "sim/video/video_presets.h"

namespace zrf::sim {
namespace {

TreeSettings Tree(std::string name, std::string serial, std::string article) {
    TreeSettings tree;
    tree.name = std::move(name);
    tree.serialNumber = std::move(serial);
    tree.article = std::move(article);
    return tree;
}

CameraIdentity Identity(const VideoDeviceSettings& video, std::string name, std::string identifier,
                        std::string format, std::string model) {
    return {std::move(name),       NarrowPath(video.device_path),
            std::move(identifier), 0,
            std::move(format),     std::move(model)};
}

CameraPreset UsbIr() {
    CameraPreset p{"usb-ir",
                   "USB radiometric camera: F7M0 640x483 (a 640x480 picture and 3 rows of "
                   "radiometric region), MJLS, YUY2, MJPG",
                   {},
                   UsbIrPreset(),
                   Tree("NORDA Line K", "1234567", "ZRF-USB-640"),
                   {}};
    p.identity =
        Identity(p.video, "NORDA Line K", "NORDA,Line_K,ZRF_USB,1.0.0,RTREE,1.0.0", "", "Line_K");
    return p;
}

// A usb-ir as one comes from the field: its crystal 35 ppm fast, samples up to 3 ms late, a
// quarter-second stall of the bus a minute, one sample in 5,000 cut short or damaged.
CameraPreset UsbIrField() {
    CameraPreset p = UsbIr();
    p.name = "usb-ir-field";
    // A camera of its own beside a usb-ir: another instance of the model.
    p.video.device_path =
        L"\\\\?\\usb#vid_2f1e&pid_0a10&mi_00#7&1c2d3e4f&0&0001#"
        L"{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
    p.video.friendly_name = L"Thermal USB Camera (field)";
    p.identity.hostname = NarrowPath(p.video.device_path);
    p.description =
        "usb-ir as from the field: +35 ppm, 3 ms jitter, a 250 ms stall a minute, 1 in 5,000 "
        "samples damaged";
    p.video.imperfections.clock_ppm = 35.0;
    p.video.imperfections.jitter_ms = 3.0;
    p.video.imperfections.stall_ms = 250;
    p.video.imperfections.stall_every_ms = 60000;
    p.video.imperfections.glitch_every = 5000;
    return p;
}

CameraPreset UsbIrJls() {
    CameraPreset p{"usb-ir-jls",     "USB radiometric camera: MJLS 320x240 (TULA ranges)", {},
                   UsbIrJlsPreset(), Tree("TULA Line K", "1234567", "ZRF-USB-320"),        {}};
    p.tree->tula = true;
    p.identity =
        Identity(p.video, "TULA Line K", "TULA,Line_K,ZRF_USB,1.0.0,RTREE,1.0.0", "", "Line_K");
    return p;
}

CameraPreset FwIr() {
    CameraPreset p{"fw-ir",
                   "IEEE-1394 radiometric camera: F7M2 and F7M0 640x480, windowing 2/4",
                   {},
                   FwIrPreset(),
                   Tree("KOVA Line K", "7654321", "ZRF-FW-640"),
                   {}};
    p.tree->windowing = true;
    p.content.bus = CameraBus::Ieee1394;
    p.identity =
        Identity(p.video, "KOVA Line K", "KOVA,Line_K,ZRF_FW,1.0.0,RTREE,1.0.0", "", "Line_K");
    return p;
}

CameraPreset Webcam() {
    CameraPreset p{"webcam",     "web camera: YUY2 and MJPG 640x480 (no control side)",
                   {},           WebcamPreset(),
                   std::nullopt, {}};
    // A web camera is reached through a USB family the plug-in serves; the model name tells the
    // device there is no control side, and the host asks for a visual format.
    p.identity = Identity(p.video, "USB Web Camera", "NORDA,Line_K,ZRF_USB,1.0.0,RTREE,1.0.0",
                          kFormatIdYuy2, "WEBCAM");
    return p;
}

void Apply(const CameraOptions& options, CameraPreset& preset) {
    preset.video.pacing = options.pacing;
    preset.content.seed = options.seed;
    preset.video.imperfections.seed = options.seed;
    std::wstring path = options.device_path;
    if (path.empty() && options.instance > 0)
        path = InstancePath(preset.video.device_path, options.instance);
    if (!path.empty()) {
        preset.video.device_path = path;
        preset.identity.hostname = NarrowPath(path);
    }
}

}  // namespace

std::wstring InstancePath(const std::wstring& path, int instance) {
    if (instance <= 0) return path;
    const std::wstring mark = L"&" + std::to_wstring(instance);
    const auto last = path.rfind(L'#');
    const auto first = path.find(L'#');
    if (last == std::wstring::npos || last == first) return path + mark;
    return path.substr(0, last) + mark + path.substr(last);
}

std::string NarrowPath(const std::wstring& path) {
    std::string narrow;
    narrow.reserve(path.size());
    for (wchar_t c : path)
        narrow.push_back(static_cast<std::uint32_t>(c) < 0x80 ? static_cast<char>(c) : '?');
    return narrow;
}

std::vector<std::string> CameraPresetNames() {
    return {"usb-ir", "usb-ir-field", "usb-ir-jls", "fw-ir", "webcam"};
}

std::optional<CameraPreset> FindCameraPreset(std::string_view name, const CameraOptions& options) {
    std::optional<CameraPreset> preset;
    if (name == "usb-ir") preset = UsbIr();
    if (name == "usb-ir-field") preset = UsbIrField();
    if (name == "usb-ir-jls") preset = UsbIrJls();
    if (name == "fw-ir") preset = FwIr();
    if (name == "webcam") preset = Webcam();
    if (preset) Apply(options, *preset);
    return preset;
}

std::vector<CameraPreset> CameraPresets(const CameraOptions& options) {
    std::vector<CameraPreset> presets;
    for (const std::string& name : CameraPresetNames())
        presets.push_back(*FindCameraPreset(name, options));
    return presets;
}

}  // namespace zrf::sim
