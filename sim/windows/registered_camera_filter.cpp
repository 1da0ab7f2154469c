#include "sim/windows/registered_camera_filter.h"

#include <atomic>
#include <memory>
#include <string>

#include "sim/cameras/camera_presets.h"
#include "sim/cameras/thermal_sample_source.h"
#include "sim/cameras/simulated_camera.h"
#include "sim/control/resource_tree.h"
#include "sim/windows/process_cameras.h"

namespace zrf::sim {
namespace {

std::atomic<long> g_live{0};

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow.push_back(c > 0 && c < 0x80 ? static_cast<char>(c) : '?');
    return narrow;
}

}  // namespace

RegisteredCameraFilter::RegisteredCameraFilter() : CaptureSourceFilter(nullptr) {
    ++g_live;
}

RegisteredCameraFilter::~RegisteredCameraFilter() {
    --g_live;
}

long RegisteredCameraFilter::LiveCount() {
    return g_live.load();
}

void* RegisteredCameraFilter::FindInterface(REFIID riid) {
    if (riid == IID_IPersistPropertyBag) return static_cast<IPersistPropertyBag*>(this);
    if (riid == IID_IAMFilterMiscFlags) return static_cast<IAMFilterMiscFlags*>(this);
    return CaptureSourceFilter::FindInterface(riid);
}

HRESULT RegisteredCameraFilter::GetClassID(CLSID* pClassID) {
    return CaptureSourceFilter::GetClassID(pClassID);
}

HRESULT RegisteredCameraFilter::InitNew() {
    return S_OK;
}

// The camera the bag names, built as the Linux build's simulated cameras are: the same preset,
// resource tree and thermal source, so its samples are the same bytes.
HRESULT RegisteredCameraFilter::Load(IPropertyBag* pPropBag, IErrorLog*) {
    if (pPropBag == nullptr) return E_POINTER;
    if (loaded_) return E_UNEXPECTED;
#ifdef ZRF_PROCESS_CAMERAS
    const HRESULT hr = ProcessCameraFor(pPropBag, camera_);
    if (FAILED(hr)) return hr;
    AttachDevice(camera_->VideoDevice());
    loaded_ = true;
    return S_OK;
#else
    CameraOptions options;
    options.seed = static_cast<std::uint32_t>(ReadBagNumber(pPropBag, L"Seed", 1));
    options.device_path = ReadBagText(pPropBag, L"DevicePath");
    std::optional<CameraPreset> preset =
        FindCameraPreset(Narrow(ReadBagText(pPropBag, L"Preset")), options);
    if (!preset) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

    std::shared_ptr<zrf::sim::ResourceTree> tree;
    if (preset->tree) tree = std::make_shared<zrf::sim::ResourceTree>(*preset->tree);
    const LONG fields = ReadBagNumber(pPropBag, L"WindowingFields", 0);
    if (tree && fields > 1) {
        try {
            tree->Set(zrf::sim::nodes::kWindowingFields, static_cast<std::int32_t>(fields));
            tree->Set(zrf::sim::nodes::kWindowingActive, true);
        } catch (const std::exception&) {
            return E_INVALIDARG;  // a camera without windowing, or a count it refuses
        }
    }
    ThermalSourceSettings content = preset->content;
    content.tree = tree;
    auto source = std::make_shared<ThermalSampleSource>(preset->video.formats, content);
    AttachDevice(SimulatedVideoDevice::Create(preset->video, source));
    loaded_ = true;
    return S_OK;
#endif
}

HRESULT RegisteredCameraFilter::Save(IPropertyBag*, BOOL, BOOL) {
    return E_NOTIMPL;
}

ULONG RegisteredCameraFilter::GetMiscFlags() {
    return AM_FILTER_MISC_FLAGS_IS_SOURCE;
}

}  // namespace zrf::sim
