#include "platform/dshow/renderers.h"

namespace zrf::dshow {

RendererFilter::RendererFilter(const CLSID& clsid) : FilterBase(clsid) {
    AddPin(std::make_unique<PinBase>(*this, PINDIR_INPUT, L"In"));
}

HRESULT RendererFilter::Receive(PinBase&, IMediaSample* sample) {
    if (sample == nullptr) return E_POINTER;
    received_.fetch_add(1, std::memory_order_relaxed);
    return S_OK;
}

HRESULT NullRenderer::CheckMediaType(const PinBase&, const AM_MEDIA_TYPE&) {
    return S_OK;
}

HRESULT VideoRenderer::CheckMediaType(const PinBase&, const AM_MEDIA_TYPE& mt) {
    if (mt.majortype != MEDIATYPE_Video || mt.formattype != FORMAT_VideoInfo ||
        mt.cbFormat < sizeof(VIDEOINFOHEADER) || mt.pbFormat == nullptr) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    bool displayable = mt.subtype == MEDIASUBTYPE_RGB24 || mt.subtype == MEDIASUBTYPE_RGB32 ||
                       mt.subtype == MEDIASUBTYPE_YUY2;
    return displayable ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

}  // namespace zrf::dshow
