#pragma once
// Implementation helper for the stand-in's own objects: one thread-safe reference count
// shared by all the interfaces an object implements; the object deletes itself at zero.
#include <atomic>
#include <utility>

#include "platform/com/com_ptr.h"
#include "platform/com/com_base.h"

namespace zrf::com {

// Objects of this module alive now: a DLL whose objects are handed out (filters, enumerators,
// samples) must not be unloaded while one lives. The count falls only when an object's last
// destructor has run, after anything a derived destructor waited for (a streaming thread).
inline std::atomic<long>& LiveObjects() {
    static std::atomic<long> live{0};
    return live;
}

template <class First, class... Rest>
class ComObject : public First, public Rest... {
  public:
    ComObject() { LiveObjects().fetch_add(1, std::memory_order_relaxed); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;
    virtual ~ComObject() { LiveObjects().fetch_sub(1, std::memory_order_acq_rel); }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        void* found = riid == IID_IUnknown ? static_cast<IUnknown*>(static_cast<First*>(this))
                                           : FindInterface(riid);
        if (found == nullptr) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        *ppv = found;
        return S_OK;
    }
    ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override {
        ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

  protected:
    // The interface pointer for an identifier other than IUnknown, or null.
    virtual void* FindInterface(REFIID riid) = 0;

  private:
    std::atomic<ULONG> refs_{1};
};

// Creates an object with its first reference held by the returned pointer.
template <class T, class... Args>
ComPtr<T> MakeCom(Args&&... args) {
    return ComPtr<T>::Attach(new T(std::forward<Args>(args)...));
}

}  // namespace zrf::com
