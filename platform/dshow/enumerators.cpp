#include "platform/dshow/enumerators.h"

#include <vector>

#include "platform/dshow/filter_base.h"

namespace zrf::dshow {
namespace {

// Holds its filter through a counted pin-or-filter reference, and reads the pins as they are
// now at every call.
class PinEnumerator final : public com::ComObject<IEnumPins> {
  public:
    explicit PinEnumerator(FilterBase& filter)
        : filter_(filter), hold_(&filter), version_(filter.PinVersion()) {}

    HRESULT Next(ULONG count, IPin** out, ULONG* pcFetched) override {
        if (out == nullptr) return E_POINTER;
        if (count != 1 && pcFetched == nullptr) return E_INVALIDARG;
        if (pcFetched != nullptr) *pcFetched = 0;
        if (version_ != filter_.PinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
        ULONG fetched = 0;
        while (fetched < count) {
            com::ComPtr<IPin> pin = filter_.PinAt(index_);
            if (!pin) break;
            out[fetched++] = pin.Detach();
            ++index_;
        }
        if (pcFetched != nullptr) *pcFetched = fetched;
        return fetched == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        if (version_ != filter_.PinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
        if (index_ + count > filter_.PinCount()) return S_FALSE;
        index_ += count;
        return S_OK;
    }
    HRESULT Reset() override {
        version_ = filter_.PinVersion();
        index_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumPins** ppEnum) override {
        if (ppEnum == nullptr) return E_POINTER;
        auto copy = com::MakeCom<PinEnumerator>(filter_);
        copy->version_ = version_;
        copy->index_ = index_;
        *ppEnum = copy.Detach();
        return S_OK;
    }

  protected:
    void* FindInterface(REFIID riid) override {
        return riid == IID_IEnumPins ? static_cast<IEnumPins*>(this) : nullptr;
    }

  private:
    FilterBase& filter_;
    com::ComPtr<IBaseFilter> hold_;
    unsigned version_;
    std::size_t index_ = 0;
};

// Skip and its answer count the types the pin had at creation or at the last Reset, as the
// platform's enumerator does; Next asks the pin again each time.
class MediaTypeEnumerator final : public com::ComObject<IEnumMediaTypes> {
  public:
    explicit MediaTypeEnumerator(PinBase& pin)
        : pin_(pin), hold_(&pin), count_(pin.OfferedTypes().size()) {}

    HRESULT Next(ULONG count, AM_MEDIA_TYPE** out, ULONG* pcFetched) override {
        if (out == nullptr) return E_POINTER;
        if (count != 1 && pcFetched == nullptr) return E_INVALIDARG;
        const std::vector<MediaType> types = pin_.OfferedTypes();
        ULONG fetched = 0;
        while (fetched < count && index_ + fetched < types.size()) {
            out[fetched] = CreateMediaType(&types[index_ + fetched].Get());
            if (out[fetched] == nullptr) {
                while (fetched > 0) DeleteMediaType(out[--fetched]);
                if (pcFetched != nullptr) *pcFetched = 0;
                return E_OUTOFMEMORY;
            }
            ++fetched;
        }
        index_ += fetched;
        if (pcFetched != nullptr) *pcFetched = fetched;
        return fetched == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        index_ += count;
        return index_ > count_ ? S_FALSE : S_OK;
    }
    HRESULT Reset() override {
        count_ = pin_.OfferedTypes().size();
        index_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumMediaTypes** ppEnum) override {
        if (ppEnum == nullptr) return E_POINTER;
        auto copy = com::MakeCom<MediaTypeEnumerator>(pin_);
        copy->Skip(static_cast<ULONG>(index_));
        *ppEnum = copy.Detach();
        return S_OK;
    }

  protected:
    void* FindInterface(REFIID riid) override {
        return riid == IID_IEnumMediaTypes ? static_cast<IEnumMediaTypes*>(this) : nullptr;
    }

  private:
    PinBase& pin_;
    com::ComPtr<IPin> hold_;
    std::size_t count_;
    std::size_t index_ = 0;
};

}  // namespace

HRESULT CreatePinEnumerator(FilterBase& filter, IEnumPins** ppEnum) {
    if (ppEnum == nullptr) return E_POINTER;
    *ppEnum = com::MakeCom<PinEnumerator>(filter).Detach();
    return S_OK;
}

HRESULT CreateMediaTypeEnumerator(PinBase& pin, IEnumMediaTypes** ppEnum) {
    if (ppEnum == nullptr) return E_POINTER;
    *ppEnum = com::MakeCom<MediaTypeEnumerator>(pin).Detach();
    return S_OK;
}

}  // namespace zrf::dshow
