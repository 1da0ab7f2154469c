#include "sim/windows/registered_camera_filter.h"

#include <atomic>
#include <memory>
#include <string>

#include "sim/cameras/camera_presets.h"
#include "sim/cameras/thermal_sample_source.h"
#include "sim/cameras/simulated_camera.h"
#include "sim/control/resource_tree.h"
#include "sim/windows/camera_bag.h"
#include "sim/windows/process_cameras.h"

namespace zrf::sim {
RegisteredCameraFilter::RegisteredCameraFilter() : CaptureSourceFilter(nullptr) {}

RegisteredCameraFilter::~RegisteredCameraFilter() = default;

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
    std::optional<CameraPreset> preset = PresetFromBag(pPropBag);
    if (!preset) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    std::shared_ptr<zrf::sim::ResourceTree> tree;
    if (preset->tree) tree = std::make_shared<zrf::sim::ResourceTree>(*preset->tree);
    if (const HRESULT hr = SetWindowingFromBag(pPropBag, tree.get()); FAILED(hr)) return hr;
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
