#include "platform/dshow/transform_filters.h"

#include <cstring>

namespace zrf::dshow {
namespace {

// An uncompressed 24-bit picture of the input's size.
MediaType Rgb24Like(const AM_MEDIA_TYPE& input, LONG width, LONG height) {
    MediaType out;
    AM_MEDIA_TYPE& mt = out.Get();
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = MEDIASUBTYPE_RGB24;
    mt.bFixedSizeSamples = TRUE;
    mt.formattype = FORMAT_VideoInfo;
    mt.cbFormat = sizeof(VIDEOINFOHEADER);
    mt.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    if (mt.pbFormat == nullptr) {
        mt.cbFormat = 0;
        return out;
    }
    VIDEOINFOHEADER vih{};
    if (input.formattype == FORMAT_VideoInfo && input.pbFormat != nullptr &&
        input.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        std::memcpy(&vih, input.pbFormat, sizeof vih);
    } else {
        vih.bmiHeader.biWidth = width;
        vih.bmiHeader.biHeight = height;
    }
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = 24;
    vih.bmiHeader.biCompression = 0;
    LONG w = vih.bmiHeader.biWidth < 0 ? 0 : vih.bmiHeader.biWidth;
    LONG h = vih.bmiHeader.biHeight < 0 ? -vih.bmiHeader.biHeight : vih.bmiHeader.biHeight;
    vih.bmiHeader.biSizeImage = static_cast<DWORD>(((w * 3 + 3) & ~3) * static_cast<long long>(h));
    mt.lSampleSize = vih.bmiHeader.biSizeImage;
    std::memcpy(mt.pbFormat, &vih, sizeof vih);
    return out;
}

}  // namespace

TransformFilter::TransformFilter(const CLSID& clsid, TransformRules rules)
    : FilterBase(clsid), rules_(std::move(rules)) {
    input_ = &AddPin(std::make_unique<PinBase>(*this, PINDIR_INPUT, L"XForm In"));
    output_ = &AddPin(std::make_unique<PinBase>(*this, PINDIR_OUTPUT, L"XForm Out"));
}

void* TransformFilter::FindInterface(REFIID riid) {
    if (riid == IID_ISpecifyPropertyPages && !rules_.property_pages.empty()) {
        return static_cast<ISpecifyPropertyPages*>(this);
    }
    return FilterBase::FindInterface(riid);
}

HRESULT TransformFilter::GetPages(CAUUID* pPages) {
    if (pPages == nullptr) return E_POINTER;
    std::size_t n = rules_.property_pages.size();
    pPages->pElems = static_cast<GUID*>(CoTaskMemAlloc(n * sizeof(GUID)));
    if (pPages->pElems == nullptr) return E_OUTOFMEMORY;
    std::memcpy(pPages->pElems, rules_.property_pages.data(), n * sizeof(GUID));
    pPages->cElems = static_cast<ULONG>(n);
    return S_OK;
}

HRESULT TransformFilter::CheckMediaType(const PinBase& pin, const AM_MEDIA_TYPE& mt) {
    if (&pin == input_) return rules_.accepts(mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    if (!input_->IsConnected()) return VFW_E_NOT_CONNECTED;
    MediaType offered = rules_.output_for(input_->ConnectedType().Get());
    return MediaTypeMatches(offered.Get(), mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

void TransformFilter::GetMediaTypes(const PinBase& pin, std::vector<MediaType>& out) {
    if (&pin == output_ && input_->IsConnected()) {
        out.push_back(rules_.output_for(input_->ConnectedType().Get()));
    }
}

HRESULT TransformFilter::Receive(PinBase&, IMediaSample* sample) {
    if (!rules_.forwards_samples || !output_->IsConnected()) return S_OK;
    return output_->Deliver(sample);
}

TransformRules AviDecompressorRules() {
    TransformRules rules;
    rules.accepts = [](const AM_MEDIA_TYPE& mt) {
        return mt.majortype == MEDIATYPE_Video && mt.formattype == FORMAT_VideoInfo &&
               mt.subtype != MEDIASUBTYPE_RGB24 && mt.subtype != MEDIASUBTYPE_RGB32;
    };
    rules.output_for = [](const AM_MEDIA_TYPE& in) { return Rgb24Like(in, 0, 0); };
    return rules;
}

TransformRules DvDecoderRules() {
    TransformRules rules;
    rules.accepts = [](const AM_MEDIA_TYPE& mt) {
        return (mt.majortype == MEDIATYPE_Video || mt.majortype == MEDIATYPE_Interleaved) &&
               mt.subtype == MEDIASUBTYPE_dvsd;
    };
    rules.output_for = [](const AM_MEDIA_TYPE& in) { return Rgb24Like(in, 720, 480); };
    return rules;
}

TransformRules PassThroughRules() {
    TransformRules rules;
    rules.accepts = [](const AM_MEDIA_TYPE&) { return true; };
    rules.output_for = [](const AM_MEDIA_TYPE& in) { return MediaType(in); };
    rules.forwards_samples = true;
    // One page, so the property-frame path has something to show.
    rules.property_pages = {
        {0x3C5B0D2E, 0x7A11, 0x4F0E, {0x9B, 0x51, 0x1D, 0x2E, 0x62, 0x0A, 0x8C, 0x44}}};
    return rules;
}

com::ClassFactory PassThroughFilterFactory(const CLSID& clsid) {
    return [clsid](REFIID riid, void** ppv) {
        auto filter = com::MakeCom<TransformFilter>(clsid, PassThroughRules());
        return filter->QueryInterface(riid, ppv);
    };
}

}  // namespace zrf::dshow
