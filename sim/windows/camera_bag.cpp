#include "sim/windows/camera_bag.h"

#include "sim/control/resource_tree.h"

namespace zrf::sim {

std::wstring ReadBagText(IPropertyBag* bag, const wchar_t* name) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = nullptr;  // VariantInit sets only the type before Windows 8.1
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

std::optional<CameraPreset> PresetFromBag(IPropertyBag* bag) {
    CameraOptions options;
    options.seed = static_cast<std::uint32_t>(ReadBagNumber(bag, L"Seed", 1));
    options.device_path = ReadBagText(bag, L"DevicePath");
    std::string name;
    for (wchar_t c : ReadBagText(bag, L"Preset")) name.push_back(c > 0 && c < 0x80 ? static_cast<char>(c) : '?');
    return FindCameraPreset(name, options);
}

HRESULT SetWindowingFromBag(IPropertyBag* bag, ResourceTree* tree) {
    const LONG fields = ReadBagNumber(bag, L"WindowingFields", 0);
    if (fields <= 1) return S_OK;
    if (!tree) return E_INVALIDARG;
    try {
        tree->Set(nodes::kWindowingFields, static_cast<std::int32_t>(fields));
        tree->Set(nodes::kWindowingActive, true);
    } catch (const std::exception&) {
        return E_INVALIDARG;  // a camera without windowing, or a count it refuses
    }
    return S_OK;
}

}  // namespace zrf::sim
