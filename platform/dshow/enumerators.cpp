#include "platform/dshow/enumerators.h"

#include <memory>

#include "platform/com/com_object.h"

namespace zrf::dshow {
namespace {

// Shared by an enumerator and its clones; the items do not change after creation.
template <class Item>
using Items = std::shared_ptr<const std::vector<Item>>;

class PinEnumerator final : public com::ComObject<IEnumPins> {
  public:
    PinEnumerator(Items<com::ComPtr<IPin>> items, std::size_t position)
        : items_(std::move(items)), position_(position) {}

    HRESULT Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override {
        if (ppPins == nullptr) return E_POINTER;
        if (cPins != 1 && pcFetched == nullptr) return E_INVALIDARG;
        ULONG fetched = 0;
        while (fetched < cPins && position_ < items_->size()) {
            IPin* pin = (*items_)[position_++].Get();
            pin->AddRef();
            ppPins[fetched++] = pin;
        }
        if (pcFetched != nullptr) *pcFetched = fetched;
        return fetched == cPins ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG n) override {
        position_ += n;
        if (position_ > items_->size()) {
            position_ = items_->size();
            return S_FALSE;
        }
        return S_OK;
    }
    HRESULT Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumPins** ppEnum) override {
        if (ppEnum == nullptr) return E_POINTER;
        *ppEnum = new PinEnumerator(items_, position_);
        return S_OK;
    }

  protected:
    void* FindInterface(REFIID riid) override {
        return riid == IID_IEnumPins ? static_cast<IEnumPins*>(this) : nullptr;
    }

  private:
    Items<com::ComPtr<IPin>> items_;
    std::size_t position_;
};

class MediaTypeEnumerator final : public com::ComObject<IEnumMediaTypes> {
  public:
    MediaTypeEnumerator(Items<MediaType> items, std::size_t position)
        : items_(std::move(items)), position_(position) {}

    HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* pcFetched) override {
        if (types == nullptr) return E_POINTER;
        if (count != 1 && pcFetched == nullptr) return E_INVALIDARG;
        ULONG fetched = 0;
        while (fetched < count && position_ < items_->size()) {
            AM_MEDIA_TYPE* copy = CreateMediaType(&(*items_)[position_].Get());
            if (copy == nullptr) break;
            ++position_;
            types[fetched++] = copy;
        }
        if (pcFetched != nullptr) *pcFetched = fetched;
        return fetched == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG n) override {
        position_ += n;
        if (position_ > items_->size()) {
            position_ = items_->size();
            return S_FALSE;
        }
        return S_OK;
    }
    HRESULT Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumMediaTypes** ppEnum) override {
        if (ppEnum == nullptr) return E_POINTER;
        *ppEnum = new MediaTypeEnumerator(items_, position_);
        return S_OK;
    }

  protected:
    void* FindInterface(REFIID riid) override {
        return riid == IID_IEnumMediaTypes ? static_cast<IEnumMediaTypes*>(this) : nullptr;
    }

  private:
    Items<MediaType> items_;
    std::size_t position_;
};

}  // namespace

HRESULT CreatePinEnumerator(std::vector<com::ComPtr<IPin>> pins, IEnumPins** ppEnum) {
    if (ppEnum == nullptr) return E_POINTER;
    *ppEnum = new PinEnumerator(
        std::make_shared<const std::vector<com::ComPtr<IPin>>>(std::move(pins)), 0);
    return S_OK;
}

HRESULT CreateMediaTypeEnumerator(std::vector<MediaType> types, IEnumMediaTypes** ppEnum) {
    if (ppEnum == nullptr) return E_POINTER;
    *ppEnum = new MediaTypeEnumerator(
        std::make_shared<const std::vector<MediaType>>(std::move(types)), 0);
    return S_OK;
}

}  // namespace zrf::dshow
