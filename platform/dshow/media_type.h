#pragma once
// Media-type memory helpers and a small owning wrapper. The format block and the structure
// itself come from the task allocator, as the platform hands them out. Builds against the
// stand-in and against the platform's own headers alike.
#include <cstring>
#include <utility>

#include "platform/dshow/dshow.h"

// Frees the format block and the held object, not the structure.
inline void FreeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.cbFormat != 0 || mt.pbFormat != nullptr) {
        CoTaskMemFree(mt.pbFormat);
        mt.cbFormat = 0;
        mt.pbFormat = nullptr;
    }
    if (mt.pUnk != nullptr) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

// Frees a structure the platform allocated, with its format block.
inline void DeleteMediaType(AM_MEDIA_TYPE* pmt) {
    if (pmt == nullptr) return;
    FreeMediaType(*pmt);
    CoTaskMemFree(pmt);
}

// Deep copy: the target gets its own format block.
inline HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
    if (target == nullptr || source == nullptr) return E_POINTER;
    *target = *source;
    if (source->cbFormat != 0 && source->pbFormat != nullptr) {
        target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
        if (target->pbFormat == nullptr) {
            target->cbFormat = 0;
            return E_OUTOFMEMORY;
        }
        std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
    } else {
        target->cbFormat = 0;
        target->pbFormat = nullptr;
    }
    if (target->pUnk != nullptr) target->pUnk->AddRef();
    return S_OK;
}

// A task-allocated deep copy, freed with DeleteMediaType.
inline AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source) {
    auto* pmt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (pmt == nullptr) return nullptr;
    if (FAILED(CopyMediaType(pmt, source))) {
        CoTaskMemFree(pmt);
        return nullptr;
    }
    return pmt;
}

namespace zrf::dshow {

// Owns one media type and its format block; copies are deep.
class MediaType {
  public:
    MediaType() { std::memset(&mt_, 0, sizeof mt_); }
    explicit MediaType(const AM_MEDIA_TYPE& source) : MediaType() { CopyMediaType(&mt_, &source); }
    MediaType(const MediaType& other) : MediaType(other.mt_) {}
    MediaType(MediaType&& other) noexcept : mt_(other.mt_) {
        std::memset(&other.mt_, 0, sizeof mt_);
    }
    MediaType& operator=(const MediaType& other) {
        if (this != &other) MediaType(other).Swap(*this);
        return *this;
    }
    MediaType& operator=(MediaType&& other) noexcept {
        MediaType(std::move(other)).Swap(*this);
        return *this;
    }
    ~MediaType() { FreeMediaType(mt_); }

    // Takes over a structure the platform allocated (format block included) and frees the
    // structure itself.
    static MediaType Adopt(AM_MEDIA_TYPE* pmt) {
        MediaType result;
        if (pmt != nullptr) {
            result.mt_ = *pmt;
            CoTaskMemFree(pmt);
        }
        return result;
    }

    void Swap(MediaType& other) noexcept { std::swap(mt_, other.mt_); }
    const AM_MEDIA_TYPE& Get() const { return mt_; }
    AM_MEDIA_TYPE& Get() { return mt_; }
    AM_MEDIA_TYPE* operator->() { return &mt_; }
    const AM_MEDIA_TYPE* operator->() const { return &mt_; }

    // The video information header when the format block is one, else null.
    const VIDEOINFOHEADER* VideoInfo() const {
        return mt_.formattype == FORMAT_VideoInfo && mt_.pbFormat != nullptr &&
                       mt_.cbFormat >= sizeof(VIDEOINFOHEADER)
                   ? reinterpret_cast<const VIDEOINFOHEADER*>(mt_.pbFormat)
                   : nullptr;
    }
    VIDEOINFOHEADER* VideoInfo() {
        return const_cast<VIDEOINFOHEADER*>(std::as_const(*this).VideoInfo());
    }

  private:
    AM_MEDIA_TYPE mt_;
};

}  // namespace zrf::dshow
