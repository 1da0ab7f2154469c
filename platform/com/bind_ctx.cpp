#include "platform/com/bind_ctx.h"

#include "platform/com/com_object.h"

namespace {

class BindCtx final : public zrf::com::ComObject<IBindCtx> {
  protected:
    void* FindInterface(REFIID riid) override {
        return riid == IID_IBindCtx ? static_cast<IBindCtx*>(this) : nullptr;
    }
};

}  // namespace

HRESULT CreateBindCtx(DWORD reserved, IBindCtx** ppbc) {
    if (ppbc == nullptr) return E_POINTER;
    *ppbc = nullptr;
    if (reserved != 0) return E_INVALIDARG;
    *ppbc = new BindCtx();
    return S_OK;
}
