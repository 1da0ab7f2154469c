// Media-format negotiation: one offered type per known subtype, the current type, the image
// size the stream is told.
#include <cstring>

#include "capture/graph_helpers.h"
#include "capture/mtx_graph.h"
#include "imaging/img_src_stream.h"
#include "imaging/media_subtypes.h"

using zrf::capture::VideoInfoOf;
using zrf::dshow::MediaType;

namespace {

// A radiometric USB frame carries a header of this many bytes in its last rows.
constexpr std::int64_t kEmbeddedHeaderBytes = 3840;
// The enumerator is driver code: a bound keeps a broken one from running forever.
constexpr int kMaxOfferedTypes = 4096;

// Each type the enumerator offers, from its start, owned by `take` (which says whether to go
// on); types the driver offers as null are passed over.
template <class Take>
void ForEachOfferedType(IEnumMediaTypes* types, Take&& take) {
    types->Reset();
    AM_MEDIA_TYPE* offered = nullptr;
    for (int n = 0; n < kMaxOfferedTypes && types->Next(1, &offered, nullptr) == S_OK; ++n) {
        if (offered == nullptr) continue;
        MediaType type = MediaType::Adopt(offered);
        offered = nullptr;
        if (!take(std::move(type))) return;
    }
}

bool CarriesEmbeddedHeaderRows(const GUID& subtype) {
    return subtype != kSubtypeYUY2 && subtype != kSubtypeI420 && subtype != kSubtypeMJLS &&
           subtype != kSubtypeMJPG;
}

}  // namespace

int CMtxGraph::SlotOf(const GUID& subtype) {
    if (subtype == kSubtypeF7M0) return SlotF7M0;
    if (subtype == kSubtypeF7M2) return SlotF7M2;
    if (subtype == kSubtypeY800) return SlotY800;
    if (subtype == kSubtypeYUY2) return SlotYUY2;
    if (subtype == kSubtypeI420) return SlotI420;
    if (subtype == kSubtypeMJLS) return SlotMJLS;
    if (subtype == kSubtypeMJPG) return SlotMJPG;
    return -1;
}

void CMtxGraph::ClearCurrent() {
    std::memset(&currentType, 0, sizeof currentType);
    currentType.formattype = FORMAT_None;
}

void CMtxGraph::CollectMediaTypes() {
    // The current type may borrow a slot's block, so it lets go before the slots are refilled.
    ClearCurrent();
    for (MediaType& slot : formatSlots) {
        MediaType().Swap(slot);
        slot->formattype = FORMAT_None;
    }
    ComPtr<IPin> pin;
    if (FAILED(FindFilterPin(captureSource.Get(), PINDIR_OUTPUT, true, pin, &MEDIATYPE_Video))) {
        return;
    }
    ComPtr<IEnumMediaTypes> types;
    if (FAILED(pin->EnumMediaTypes(types.Receive())) || !types) return;
    ForEachOfferedType(types.Get(), [this](MediaType type) {
        TakeIntoSlot(std::move(type));
        return true;
    });
}

// A type no slot takes is freed on return, format block included.
void CMtxGraph::TakeIntoSlot(MediaType type) {
    const int slot = SlotOf(type->subtype);
    const bool videoInfo = type->formattype == FORMAT_VideoInfo;
    bool take = false;
    switch (slot) {
        case SlotF7M2:
        case SlotY800:
            take = true;
            break;
        case SlotMJLS:
        case SlotMJPG:
            take = formatSlots[slot]->formattype == FORMAT_None;
            break;
        case SlotF7M0:
            take = videoInfo;
            break;
        case SlotYUY2:
        case SlotI420:
            take = videoInfo && type->cbFormat >= sizeof(VIDEOINFOHEADER);
            break;
        default:
            break;
    }
    if (take) formatSlots[slot] = std::move(type);
}

// Only a complete video information header counts: the image size is read from it.
bool CMtxGraph::IsMediaTypeAvailable(const GUID& subtype) {
    const int slot = SlotOf(subtype);
    return slot >= 0 && VideoInfoOf(formatSlots[slot].Get()) != nullptr;
}

HRESULT CMtxGraph::SetMediaType(const GUID& subtype) {
    const int slot = SlotOf(subtype);
    // A shallow copy: the slot keeps its format block.
    currentType = formatSlots[slot >= 0 ? slot : SlotF7M0].Get();
    const VIDEOINFOHEADER* info = VideoInfoOf(currentType);
    if (info == nullptr || info->bmiHeader.biWidth <= 0) return E_FAIL;

    ImageSize size{info->bmiHeader.biWidth, info->bmiHeader.biHeight};
    if (radiometricUsbMode && CarriesEmbeddedHeaderRows(subtype)) {
        const std::int64_t rowBytes = 2 * std::int64_t{size.width};
        size.height += static_cast<std::int32_t>(-kEmbeddedHeaderBytes / rowBytes);
    }
    imageSize = size;
    if (imageStream != nullptr) {
        imageStream->SetImageSize(size);
        imageStream->SetSubtype(currentType.subtype);
    }
    FillFrameRates();
    return S_OK;
}

ImageSize CMtxGraph::GetImageSize() const {
    return imageSize;
}

HRESULT CMtxGraph::SelectDefaultMediaType(bool wantY800) {
    ComPtr<IPin> pin;
    HRESULT hr = FindFilterPin(captureSource.Get(), PINDIR_OUTPUT, true, pin, &MEDIATYPE_Video);
    if (FAILED(hr)) return hr;
    ComPtr<IEnumMediaTypes> types;
    hr = pin->EnumMediaTypes(types.Receive());
    if (FAILED(hr)) return hr;
    if (!types) return E_FAIL;

    // Slots are replaced below: the current type must not borrow from one meanwhile.
    ClearCurrent();
    int count = 0;
    MediaType last;
    ForEachOfferedType(types.Get(), [&](MediaType type) {
        ++count;
        const int slot = SlotOf(type->subtype);
        if (slot == SlotF7M2 || slot == SlotMJLS || slot == SlotMJPG || slot == SlotY800) {
            formatSlots[slot] = type;
        }
        last = std::move(type);
        return true;
    });
    defaultType = std::move(last);
    currentType = defaultType.Get();
    if (count == 1) return wantY800 ? E_FAIL : S_OK;

    const GUID& wanted = wantY800 ? kSubtypeY800 : kSubtypeF7M0;
    bool found = false;
    ForEachOfferedType(types.Get(), [&](MediaType type) {
        if (type->majortype != MEDIATYPE_Video || type->subtype != wanted) return true;
        ClearCurrent();
        defaultType = std::move(type);
        currentType = defaultType.Get();
        found = true;
        return false;
    });
    return found ? S_OK : E_FAIL;
}
