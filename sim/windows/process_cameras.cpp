#include "sim/windows/process_cameras.h"

#include <algorithm>
#include <cwctype>
#include <map>
#include <mutex>
#include <string>

#include "sim/cameras/camera_presets.h"
#include "sim/cameras/simulated_camera.h"
#include "sim/control/resource_tree.h"
#include "sim/windows/camera_service.h"

namespace zrf::sim {
namespace {

struct Slot {
    std::shared_ptr<SimulatedCamera> started;  // held by the program that started it
    std::weak_ptr<SimulatedCamera> live;       // whichever camera has the path now
};

std::mutex g_mutex;
// Device paths are matched ignoring case, as device selection does.
std::map<std::wstring, Slot> g_slots;

std::wstring Key(const std::wstring& path) {
    std::wstring key = path;
    std::transform(key.begin(), key.end(), key.begin(), [](wchar_t c) { return std::towlower(c); });
    return key;
}

class StartedCamera final : public ServiceCamera {
  public:
    StartedCamera(std::wstring key, std::shared_ptr<SimulatedCamera> camera)
        : key_(std::move(key)), camera_(std::move(camera)) {}
    ~StartedCamera() override {
        std::lock_guard lock(g_mutex);
        auto slot = g_slots.find(key_);
        if (slot != g_slots.end() && slot->second.started == camera_) slot->second.started.reset();
    }
    CameraIdentity Identity() const override { return camera_->Identity(); }
    std::uint64_t SamplesSent() const override {
        return static_cast<std::uint64_t>(camera_->Video().FramesDelivered());
    }

  private:
    std::wstring key_;
    std::shared_ptr<SimulatedCamera> camera_;
};

class Service final : public CameraService {
  public:
    std::vector<ServedCamera> Cameras() const override {
        std::vector<ServedCamera> out;
        for (const char* name : kRegisteredCameras) {
            if (auto preset = FindCameraPreset(name))
                out.push_back({preset->name, preset->description, preset->identity});
        }
        return out;
    }

    std::unique_ptr<ServiceCamera> Start(const std::string& name, const ServiceCameraOptions& o,
                                         std::string& error) override {
        CameraOptions options;
        options.seed = o.seed;
        options.pacing = o.asFastAsPossible ? Pacing::AsFastAsPossible : Pacing::RealTime;
        const bool registered = std::any_of(std::begin(kRegisteredCameras), std::end(kRegisteredCameras),
                                            [&](const char* n) { return name == n; });
        std::optional<CameraPreset> preset = registered ? FindCameraPreset(name, options) : std::nullopt;
        if (!preset) {
            error = "no registered camera '" + name + "'";
            return nullptr;
        }
        const std::wstring key = Key(preset->video.device_path);
        std::lock_guard lock(g_mutex);
        Slot& slot = g_slots[key];
        if (slot.live.lock()) {
            error = "the camera '" + name + "' is already running in this process";
            return nullptr;
        }
        auto camera = std::make_shared<SimulatedCamera>(*preset);
        slot.started = camera;
        slot.live = camera;
        return std::make_unique<StartedCamera>(key, std::move(camera));
    }

    std::unique_ptr<ServiceCamera> Replay(const std::string&, const ServiceCameraOptions&,
                                          std::string& error) override {
        // A replay camera would need a registered device of its own.
        error = "the registered cameras play no recordings";
        return nullptr;
    }
};

}  // namespace

std::wstring ReadBagText(IPropertyBag* bag, const wchar_t* name) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    std::wstring text;
    if (SUCCEEDED(bag->Read(name, &value, nullptr)) && value.vt == VT_BSTR && value.bstrVal) {
        text = value.bstrVal;
    }
    VariantClear(&value);
    return text;
}

LONG ReadBagNumber(IPropertyBag* bag, const wchar_t* name, LONG fallback) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    LONG number = fallback;
    if (SUCCEEDED(bag->Read(name, &value, nullptr)) && value.vt == VT_I4) number = value.lVal;
    VariantClear(&value);
    return number;
}

HRESULT ProcessCameraFor(IPropertyBag* bag, std::shared_ptr<SimulatedCamera>& camera) {
    const std::wstring path = ReadBagText(bag, L"DevicePath");
    std::lock_guard lock(g_mutex);
    Slot& slot = g_slots[Key(path)];
    if ((camera = slot.live.lock())) return S_OK;

    CameraOptions options;
    options.seed = static_cast<std::uint32_t>(ReadBagNumber(bag, L"Seed", 1));
    options.device_path = path;
    std::string name;
    for (wchar_t c : ReadBagText(bag, L"Preset")) name.push_back(c > 0 && c < 0x80 ? static_cast<char>(c) : '?');
    std::optional<CameraPreset> preset = FindCameraPreset(name, options);
    if (!preset) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    auto made = std::make_shared<SimulatedCamera>(*preset);
    const LONG fields = ReadBagNumber(bag, L"WindowingFields", 0);
    if (fields > 1) {
        if (!made->Tree()) return E_INVALIDARG;
        try {
            made->Tree()->Set(zrf::sim::nodes::kWindowingFields, static_cast<std::int32_t>(fields));
            made->Tree()->Set(zrf::sim::nodes::kWindowingActive, true);
        } catch (const std::exception&) {
            return E_INVALIDARG;  // a camera without windowing, or a count it refuses
        }
    }
    slot.live = made;
    camera = std::move(made);
    return S_OK;
}

}  // namespace zrf::sim

extern "C" __declspec(dllexport) zrf::sim::CameraService* ZrfSimulatedCameraService() {
    static zrf::sim::Service service;
    return &service;
}
