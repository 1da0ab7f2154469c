#pragma once
// Filters for the stand-in's own tests: each filter and pin carries a name, may answer a probe
// interface, and a pin says its category through IKsPropertySet only when it has one to say.
// The types a pin offers are the test's to change.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/dshow/filter_base.h"

namespace PlatformTest {

DEFINE_GUID(IID_IProbe, 0x7D1F0C52, 0x3B8E, 0x4A61, 0x9E, 0x27, 0x5C, 0x40, 0x81, 0xD3, 0x6A, 0x19);
DEFINE_GUID(CLSID_ProbeFilter, 0x7D1F0C53, 0x3B8E, 0x4A61, 0x9E, 0x27, 0x5C, 0x40, 0x81, 0xD3, 0x6A,
            0x19);

struct IProbe : public IUnknown {
    virtual const std::wstring& Where() const = 0;
};

// The name of whatever answered the probe, or "" when nothing did.
inline std::wstring WhereFound(void* probe) {
    return probe != nullptr ? static_cast<IProbe*>(probe)->Where() : L"";
}

class ProbeFilter;

struct ProbePinSpec {
    std::wstring name;
    PIN_DIRECTION direction = PINDIR_OUTPUT;
    GUID category = GUID_NULL;     // answered through IKsPropertySet when not GUID_NULL
    bool answers_category = true;  // false: the pin has no property set at all
    bool probe = false;
    std::vector<GUID> major_types = {MEDIATYPE_Video};
};

class ProbePin final : public zrf::dshow::PinBase, public IKsPropertySet, public IProbe {
  public:
    ProbePin(ProbeFilter& owner, ProbePinSpec spec);
    ZRF_COM_FORWARD_UNKNOWN(zrf::dshow::PinBase)

    HRESULT Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_NOTIMPL; }
    HRESULT Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size,
                DWORD* returned) override;
    HRESULT QuerySupported(REFGUID, DWORD, DWORD*) override { return E_NOTIMPL; }
    const std::wstring& Where() const override { return spec_.name; }

    const ProbePinSpec& Spec() const { return spec_; }
    void Offer(std::vector<GUID> major_types) { spec_.major_types = std::move(major_types); }
    // Called at each category question, before the answer.
    std::function<void()> on_category;

  protected:
    void* FindExtraInterface(REFIID riid) override;

  private:
    ProbePinSpec spec_;
};

class ProbeFilter final : public zrf::dshow::FilterBase, public IProbe {
  public:
    ProbeFilter(std::wstring name, bool probe) : FilterBase(CLSID_ProbeFilter), name_(std::move(name)), probe_(probe) {}
    ZRF_COM_FORWARD_UNKNOWN(zrf::dshow::FilterBase)

    ProbePin& Add(ProbePinSpec spec) {
        return static_cast<ProbePin&>(AddPin(std::make_unique<ProbePin>(*this, std::move(spec))));
    }
    const std::wstring& Where() const override { return name_; }
    // What its stream start and run answer (a device in use, an allocator that cannot commit).
    HRESULT fail_init = S_OK;
    HRESULT fail_run = S_OK;
    HRESULT CheckMediaType(const zrf::dshow::PinBase&, const AM_MEDIA_TYPE&) override { return S_OK; }
    void GetMediaTypes(const zrf::dshow::PinBase& pin,
                       std::vector<zrf::dshow::MediaType>& out) override {
        for (const GUID& major : static_cast<const ProbePin&>(pin).Spec().major_types) {
            zrf::dshow::MediaType type;
            type->majortype = major;
            type->subtype = major;
            type->formattype = FORMAT_None;
            out.push_back(std::move(type));
        }
    }

  protected:
    void* FindInterface(REFIID riid) override {
        if (riid == IID_IProbe && probe_) return static_cast<IProbe*>(this);
        return FilterBase::FindInterface(riid);
    }
    HRESULT OnInitStream() override { return fail_init; }
    HRESULT OnRun() override { return fail_run; }

  private:
    std::wstring name_;
    bool probe_;
};

inline ProbePin::ProbePin(ProbeFilter& owner, ProbePinSpec spec)
    : PinBase(owner, spec.direction, spec.name, spec.category), spec_(std::move(spec)) {}

inline HRESULT ProbePin::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size,
                             DWORD* returned) {
    if (on_category) on_category();
    if (set != AMPROPSETID_Pin || id != AMPROPERTY_PIN_CATEGORY || spec_.category == GUID_NULL) {
        return E_PROP_ID_UNSUPPORTED;
    }
    if (data == nullptr || size < sizeof(GUID)) return E_UNEXPECTED;
    std::memcpy(data, &spec_.category, sizeof(GUID));
    if (returned != nullptr) *returned = sizeof(GUID);
    return S_OK;
}

inline void* ProbePin::FindExtraInterface(REFIID riid) {
    if (riid == IID_IKsPropertySet && spec_.answers_category) return static_cast<IKsPropertySet*>(this);
    if (riid == IID_IProbe && spec_.probe) return static_cast<IProbe*>(this);
    return nullptr;
}

}  // namespace PlatformTest
