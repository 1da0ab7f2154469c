#include "platform/dshow/media_sample.h"

namespace zrf::dshow {

void* MediaSample::FindInterface(REFIID riid) {
    return riid == IID_IMediaSample ? static_cast<IMediaSample*>(this) : nullptr;
}

HRESULT MediaSample::GetPointer(BYTE** ppBuffer) {
    if (ppBuffer == nullptr) return E_POINTER;
    if (unavailable_ || buffer_ == nullptr) {
        *ppBuffer = nullptr;
        return E_FAIL;
    }
    *ppBuffer = buffer_;
    return S_OK;
}

HRESULT MediaSample::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    if (pTimeStart == nullptr || pTimeEnd == nullptr) return E_POINTER;
    *pTimeStart = start_;
    *pTimeEnd = end_;
    return has_time_ ? S_OK : VFW_E_SAMPLE_TIME_NOT_SET;
}

HRESULT MediaSample::SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    if (pTimeStart == nullptr) {
        has_time_ = false;
        return S_OK;
    }
    SetTime(*pTimeStart, pTimeEnd != nullptr ? *pTimeEnd : *pTimeStart + 1);
    return S_OK;
}

HRESULT MediaSample::SetSyncPoint(BOOL value) {
    sync_point_ = value != FALSE;
    return S_OK;
}

HRESULT MediaSample::SetActualDataLength(LONG lLen) {
    if (lLen < 0 || lLen > capacity_) return E_INVALIDARG;
    length_ = lLen;
    return S_OK;
}

HRESULT MediaSample::GetMediaType(AM_MEDIA_TYPE** ppMediaType) {
    if (ppMediaType == nullptr) return E_POINTER;
    *ppMediaType = nullptr;
    return S_FALSE;  // the type has not changed
}

HRESULT MediaSample::GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
    return VFW_E_MEDIA_TIME_NOT_SET;
}

void MediaSample::SetTime(REFERENCE_TIME start, REFERENCE_TIME end) {
    start_ = start;
    end_ = end;
    has_time_ = true;
}

}  // namespace zrf::dshow
