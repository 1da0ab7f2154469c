// The serial number: from the camera's property set where it tells one, else from the
// display name of its device.
#include "capture/device_serial.h"

#include <cstdint>
#include <cwctype>

#include "capture/capture_ids.h"
#include "capture/graph_helpers.h"
#include "capture/mtx_graph.h"

namespace zrf::capture {
namespace {

constexpr wchar_t kSerialMarker[] = L"17F4000";
constexpr std::size_t kSerialDigits = 8;
constexpr std::uint64_t kLargestSerial = 0x7FFFFFFF;

// Drops everything up to and including the first '#' at or after `from`, unless that '#'
// starts the name; returns where the search for the next one begins.
std::size_t DropThroughHash(std::wstring& name, std::size_t from) {
    const std::size_t hash = name.find(L'#', from);
    if (hash == std::wstring::npos) return name.size();
    if (hash == 0) return 1;
    name.erase(0, hash + 1);
    return 0;
}

int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

std::wstring DisplayNameOf(IMoniker* moniker) {
    com::ComPtr<IBindCtx> context;
    CreateBindCtx(0, context.Receive());
    LPOLESTR text = nullptr;
    std::wstring name;
    if (SUCCEEDED(moniker->GetDisplayName(context.Get(), nullptr, &text)) && text != nullptr) {
        name = text;
    }
    CoTaskMemFree(text);
    return name;
}

}  // namespace

LONG SerialFromDisplayName(std::wstring name) {
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(c));
    DropThroughHash(name, DropThroughHash(name, 0));
    const std::size_t marker = name.find(kSerialMarker);
    if (marker == std::wstring::npos || marker == 0) return 0;

    std::wstring digits = name.substr(0, marker);
    if (digits.size() < kSerialDigits) digits.insert(0, kSerialDigits - digits.size(), L'0');
    digits.resize(kSerialDigits);
    // The four byte pairs in reverse order; digits up to the first other character count.
    const std::wstring swapped =
        digits.substr(6, 2) + digits.substr(4, 2) + digits.substr(2, 2) + digits.substr(0, 2);
    std::uint64_t value = 0;
    for (wchar_t c : swapped) {
        const int digit = HexValue(c);
        if (digit < 0) break;
        value = value * 16 + static_cast<std::uint64_t>(digit);
    }
    return static_cast<LONG>(value > kLargestSerial ? kLargestSerial : value);
}

}  // namespace zrf::capture

LONG CMtxGraph::ReadDeviceSerial(IMoniker* moniker) {
    if (moniker == nullptr) return 0;
    ComPtr<IBaseFilter> filter;
    moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.ReceiveVoid());
    if (!filter) return 0;
    if (!captureBuilder) {
        const HRESULT hr =
            CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                             IID_ICaptureGraphBuilder2, captureBuilder.ReceiveVoid());
        if (FAILED(hr)) return hr;
    }
    ComPtr<IKsPropertySet> properties;
    if (FAILED(captureBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, filter.Get(),
                                             IID_IKsPropertySet, properties.ReceiveVoid())) ||
        !properties) {
        return 0;
    }
    DWORD support = 0;
    if (SUCCEEDED(properties->QuerySupported(zrf::capture::kPropSetCamera,
                                             zrf::capture::kPropSerial, &support)) &&
        (support & KSPROPERTY_SUPPORT_GET) != 0) {
        BYTE instance[8] = {};
        BYTE reply[8] = {};
        DWORD returned = 0;
        if (SUCCEEDED(properties->Get(zrf::capture::kPropSetCamera, zrf::capture::kPropSerial,
                                      instance, sizeof instance, reply, sizeof reply, &returned))) {
            return static_cast<LONG>(zrf::capture::ReadWord(reply, 4));
        }
    }
    return zrf::capture::SerialFromDisplayName(zrf::capture::DisplayNameOf(moniker));
}
