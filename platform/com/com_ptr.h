#pragma once
// A counted reference to a platform interface: holds one reference, releases it when reset
// or destroyed, and queries other interfaces by their identifier. Builds against the
// stand-in and against the platform's own headers alike.
#include <cstddef>
#include <utility>

#include "platform/com/com_base.h"

namespace zrf::com {

template <class T>
class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Adds a reference of its own; the caller keeps the one it has.
    explicit ComPtr(T* p) : p_(p) {
        if (p_ != nullptr) p_->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(const ComPtr& other) {
        ComPtr(other).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) {
        Reset();
        return *this;
    }

    // Takes over a reference the caller already owns.
    static ComPtr Attach(T* p) {
        ComPtr result;
        result.p_ = p;
        return result;
    }
    // Gives up the reference without releasing it.
    T* Detach() { return std::exchange(p_, nullptr); }

    void Reset() {
        if (T* old = std::exchange(p_, nullptr)) old->Release();
    }
    void Swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // For out parameters: releases what is held and lends the slot.
    T** Receive() {
        Reset();
        return &p_;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

    // Queries the held object for another interface by its identifier.
    template <class U>
    HRESULT As(REFIID iid, ComPtr<U>& out) const {
        out.Reset();
        if (p_ == nullptr) return E_POINTER;
        return p_->QueryInterface(iid, out.ReceiveVoid());
    }

    friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.p_ == nullptr; }
    friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.p_ == b.p_; }

  private:
    T* p_ = nullptr;
};

}  // namespace zrf::com
