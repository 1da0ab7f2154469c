// The capture pin's property sets: the video-control frame-rate list and the maker's
// camera properties. Every size the caller passes is checked before a byte is touched.
#include <algorithm>
#include <cstring>

#include "sim/video/capture_source_filter.h"

namespace zrf::sim {
namespace {

constexpr DWORD kRawCommand = 0;
constexpr DWORD kDeviceInfo = 1;
constexpr DWORD kSerial = 2;
constexpr DWORD kModeValue = 3;

void PutWord(BYTE* data, std::size_t offset, DWORD value) {
    std::memcpy(data + offset, &value, sizeof value);
}

DWORD GetWord(const BYTE* data, std::size_t offset) {
    DWORD value = 0;
    std::memcpy(&value, data + offset, sizeof value);
    return value;
}

}  // namespace

HRESULT CapturePin::QuerySupported(REFGUID set, DWORD id, DWORD* pTypeSupport) {
    if (pTypeSupport == nullptr) return E_POINTER;
    *pTypeSupport = 0;
    const VideoDeviceSettings& s = device_->Settings();
    if (set == AMPROPSETID_Pin) {
        if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
        *pTypeSupport = KSPROPERTY_SUPPORT_GET;
        return S_OK;
    }
    if (set == PROPSETID_VIDCAP_VIDEOCONTROL) {
        if (id != KSPROPERTY_VIDEOCONTROL_FRAME_RATES || s.video_control_frame_intervals.empty()) {
            return E_PROP_ID_UNSUPPORTED;
        }
        *pTypeSupport = KSPROPERTY_SUPPORT_GET;
        return S_OK;
    }
    if (set != PROPSETID_MakerCamera || !s.maker_properties) return E_PROP_SET_UNSUPPORTED;
    switch (id) {
        case kRawCommand:
        case kDeviceInfo:
            *pTypeSupport = KSPROPERTY_SUPPORT_GET;
            return S_OK;
        case kSerial:
            if (!s.maker_properties->serial) return E_PROP_ID_UNSUPPORTED;
            *pTypeSupport = KSPROPERTY_SUPPORT_GET;
            return S_OK;
        case kModeValue:
            *pTypeSupport = KSPROPERTY_SUPPORT_GET |
                            (s.maker_properties->mode_writable ? KSPROPERTY_SUPPORT_SET : 0);
            return S_OK;
        default:
            return E_PROP_ID_UNSUPPORTED;
    }
}

HRESULT CapturePin::Get(REFGUID set, DWORD id, LPVOID pInstanceData, DWORD cbInstanceData,
                        LPVOID pPropData, DWORD cbPropData, DWORD* pcbReturned) {
    if (set == AMPROPSETID_Pin) return GetCategory(id, pPropData, cbPropData, pcbReturned);
    if (pcbReturned == nullptr) return E_POINTER;
    *pcbReturned = 0;
    DWORD support = 0;
    HRESULT hr = QuerySupported(set, id, &support);
    if (FAILED(hr)) return hr;
    if ((support & KSPROPERTY_SUPPORT_GET) == 0) return E_PROP_ID_UNSUPPORTED;
    if (pPropData == nullptr) return E_POINTER;
    if (set == PROPSETID_VIDCAP_VIDEOCONTROL)
        return GetFrameRates(pPropData, cbPropData, pcbReturned);
    if (cbInstanceData != 0 && pInstanceData == nullptr) return E_POINTER;
    return GetMakerProperty(id, static_cast<const BYTE*>(pInstanceData), cbInstanceData,
                            static_cast<BYTE*>(pPropData), cbPropData, pcbReturned);
}

// As the platform's capture pins answer it: a size query with no buffer, the category's GUID
// into a buffer that holds one.
HRESULT CapturePin::GetCategory(DWORD id, LPVOID data, DWORD size, DWORD* returned) {
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (data == nullptr && returned == nullptr) return E_POINTER;
    if (returned != nullptr) *returned = sizeof(GUID);
    if (data == nullptr) return S_OK;
    if (size < sizeof(GUID)) return E_UNEXPECTED;
    std::memcpy(data, &Category(), sizeof(GUID));
    return S_OK;
}

HRESULT CapturePin::GetFrameRates(LPVOID data, DWORD size, DWORD* returned) {
    const auto& intervals = device_->Settings().video_control_frame_intervals;
    std::size_t needed = sizeof(KSMULTIPLE_ITEM) + intervals.size() * sizeof(LONGLONG);
    *returned = static_cast<DWORD>(needed);
    if (size < needed) return HRESULT_FROM_WIN32(ERROR_MORE_DATA);
    auto* bytes = static_cast<BYTE*>(data);
    KSMULTIPLE_ITEM header{static_cast<ULONG>(needed), static_cast<ULONG>(intervals.size())};
    std::memcpy(bytes, &header, sizeof header);
    std::memcpy(bytes + sizeof header, intervals.data(), intervals.size() * sizeof(LONGLONG));
    return S_OK;
}

HRESULT CapturePin::GetMakerProperty(DWORD id, const BYTE* instance, DWORD instance_size,
                                     BYTE* data, DWORD size, DWORD* returned) {
    const MakerPropertySettings& maker = *device_->Settings().maker_properties;
    switch (id) {
        case kRawCommand: {
            if (instance == nullptr || instance_size < 4 || size < 4) return E_INVALIDARG;
            // The request may share its buffer with the response: read it out first.
            std::size_t length = std::min<std::size_t>(GetWord(instance, 0), instance_size - 4);
            std::vector<BYTE> request(instance + 4, instance + 4 + length);
            std::vector<BYTE> response = device_->RawCommand(request.data(), request.size());
            std::size_t n = std::min<std::size_t>(response.size(), size - 4);
            PutWord(data, 0, static_cast<DWORD>(n));
            std::memcpy(data + 4, response.data(), n);
            *returned = static_cast<DWORD>(4 + n);
            return S_OK;
        }
        case kDeviceInfo: {
            if (size < 25) return E_INVALIDARG;
            std::memset(data, 0, size);
            PutWord(data, 4, maker.info_word);
            for (int i = 0; i < 4; ++i) PutWord(data, 8 + 4 * i, maker.info_words[i]);
            std::size_t n = std::min<std::size_t>(maker.info_text.size(), size - 25);
            std::memcpy(data + 24, maker.info_text.data(), n);
            data[24 + n] = 0;
            *returned = size;
            return S_OK;
        }
        case kSerial:
            if (size < 8) return E_INVALIDARG;
            std::memset(data, 0, 8);
            PutWord(data, 4, *maker.serial);
            *returned = 8;
            return S_OK;
        case kModeValue:
            if (size < 4) return E_INVALIDARG;
            PutWord(data, 0, device_->ModeValue());
            *returned = 4;
            return S_OK;
        default:
            return E_PROP_ID_UNSUPPORTED;
    }
}

HRESULT CapturePin::Set(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID pPropData, DWORD cbPropData) {
    if (set == AMPROPSETID_Pin) return E_NOTIMPL;  // the category is the pin's own
    DWORD support = 0;
    HRESULT hr = QuerySupported(set, id, &support);
    if (FAILED(hr)) return hr;
    if ((support & KSPROPERTY_SUPPORT_SET) == 0) return E_PROP_ID_UNSUPPORTED;
    if (pPropData == nullptr) return E_POINTER;
    if (cbPropData < 4) return E_INVALIDARG;
    device_->SetModeValue(GetWord(static_cast<const BYTE*>(pPropData), 0));
    return S_OK;
}

}  // namespace zrf::sim
