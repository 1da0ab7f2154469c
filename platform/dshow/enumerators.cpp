#include "platform/dshow/enumerators.h"

#include <memory>

#include "platform/com/com_object.h"

namespace zrf::dshow {
namespace {

// What differs between the enumerators: the interface, what is kept, and how one item is
// handed out (null when it cannot be).
struct PinItems {
    using Interface = IEnumPins;
    using Item = com::ComPtr<IPin>;
    using Out = IPin*;
    static const IID& Iid() { return IID_IEnumPins; }
    static Out HandOut(const Item& pin) {
        pin->AddRef();
        return pin.Get();
    }
};

struct MediaTypeItems {
    using Interface = IEnumMediaTypes;
    using Item = MediaType;
    using Out = AM_MEDIA_TYPE*;
    static const IID& Iid() { return IID_IEnumMediaTypes; }
    // Each caller gets a task-allocated copy of its own.
    static Out HandOut(const Item& type) { return CreateMediaType(&type.Get()); }
};

// A snapshot enumerator; an enumerator and its clones share the items, which do not change
// after creation.
template <class Items>
class SnapshotEnumerator final : public com::ComObject<typename Items::Interface> {
  public:
    using Interface = typename Items::Interface;
    using Shared = std::shared_ptr<const std::vector<typename Items::Item>>;

    SnapshotEnumerator(Shared items, std::size_t position)
        : items_(std::move(items)), position_(position) {}

    HRESULT Next(ULONG count, typename Items::Out* out, ULONG* pcFetched) override {
        if (out == nullptr) return E_POINTER;
        if (count != 1 && pcFetched == nullptr) return E_INVALIDARG;
        ULONG fetched = 0;
        while (fetched < count && position_ < items_->size()) {
            typename Items::Out item = Items::HandOut((*items_)[position_]);
            if (item == nullptr) break;
            ++position_;
            out[fetched++] = item;
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
    HRESULT Clone(Interface** ppEnum) override {
        if (ppEnum == nullptr) return E_POINTER;
        *ppEnum = new SnapshotEnumerator(items_, position_);
        return S_OK;
    }

  protected:
    void* FindInterface(REFIID riid) override {
        return riid == Items::Iid() ? static_cast<Interface*>(this) : nullptr;
    }

  private:
    Shared items_;
    std::size_t position_;
};

template <class Items>
HRESULT CreateEnumerator(std::vector<typename Items::Item> items,
                         typename Items::Interface** ppEnum) {
    if (ppEnum == nullptr) return E_POINTER;
    *ppEnum = new SnapshotEnumerator<Items>(
        std::make_shared<const std::vector<typename Items::Item>>(std::move(items)), 0);
    return S_OK;
}

}  // namespace

HRESULT CreatePinEnumerator(std::vector<com::ComPtr<IPin>> pins, IEnumPins** ppEnum) {
    return CreateEnumerator<PinItems>(std::move(pins), ppEnum);
}

HRESULT CreateMediaTypeEnumerator(std::vector<MediaType> types, IEnumMediaTypes** ppEnum) {
    return CreateEnumerator<MediaTypeItems>(std::move(types), ppEnum);
}

}  // namespace zrf::dshow
