// The camera's controls below the graph: the maker's property set on the capture pin, the
// vendor-specific unit's mailbox, tape transport, and the transform's property pages. Every
// length a camera reports is bounded by the buffer it arrived in.
#include <algorithm>
#include <cstring>

#include "capture/capture_ids.h"
#include "capture/graph_helpers.h"
#include "capture/mtx_graph.h"
#include "platform/time/windows_time.h"

using namespace zrf::capture;

namespace {

constexpr int kMaxMailboxReads = 7;
constexpr DWORD kFirstMailboxWait = 50;  // ms, doubled after every reply that is not ready
// Node counts come from the driver: a bound keeps a broken one from running forever.
constexpr DWORD kMaxTopologyNodes = 4096;

std::size_t RequestLength(LONG length, std::size_t capacity) {
    return length <= 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(length), capacity);
}

}  // namespace

bool CMtxGraph::CanGet(const GUID& set, DWORD id) {
    DWORD support = 0;
    return cameraProperties && SUCCEEDED(cameraProperties->QuerySupported(set, id, &support)) &&
           (support & KSPROPERTY_SUPPORT_GET) != 0;
}

void CMtxGraph::ReadDeviceInfo() {
    if (!CanGet(kPropSetCamera, kPropDeviceInfo)) return;
    BYTE instance[kPropBlockSize] = {};
    BYTE reply[kPropBlockSize] = {};
    DWORD returned = 0;
    if (FAILED(cameraProperties->Get(kPropSetCamera, kPropDeviceInfo, instance, sizeof instance,
                                     reply, sizeof reply, &returned))) {
        return;
    }
    deviceInfoWord = ReadWord(reply, 4);
    for (std::size_t i = 0; i < deviceInfoWords.size(); ++i) {
        deviceInfoWords[i] = ReadWord(reply, 8 + 4 * i);
    }
    // The text need not be terminated inside the block.
    const auto* text = reinterpret_cast<const char*>(reply + 24);
    deviceInfoText.assign(text, std::find(text, text + (sizeof reply - 24), '\0'));
}

void CMtxGraph::ReadModeValue() {
    if (!CanGet(kPropSetCamera, kPropModeValue)) return;
    BYTE instance[4] = {};
    BYTE value[4] = {};
    DWORD returned = 0;
    if (SUCCEEDED(cameraProperties->Get(kPropSetCamera, kPropModeValue, instance, sizeof instance,
                                        value, sizeof value, &returned))) {
        modeValue = ReadWord(value, 0);
    }
}

HRESULT CMtxGraph::GetDeviceInfo(DWORD* word0, DWORD* word1, DWORD* word2, DWORD* word3) {
    DWORD* out[] = {word0, word1, word2, word3};
    for (std::size_t i = 0; i < deviceInfoWords.size(); ++i) {
        if (out[i] != nullptr) *out[i] = deviceInfoWords[i];
    }
    return S_OK;
}

HRESULT CMtxGraph::WriteModeValue(ULONG value) {
    if (!cameraProperties) return S_FALSE;
    DWORD support = 0;
    HRESULT hr = cameraProperties->QuerySupported(kPropSetCamera, kPropModeValue, &support);
    if (FAILED(hr) || (support & KSPROPERTY_SUPPORT_SET) == 0) return hr;
    BYTE instance[4];
    BYTE data[4];
    WriteWord(instance, 0, value);
    WriteWord(data, 0, value);
    hr = cameraProperties->Set(kPropSetCamera, kPropModeValue, instance, sizeof instance, data,
                               sizeof data);
    if (SUCCEEDED(hr)) modeValue = value;
    return hr;
}

HRESULT CMtxGraph::SendRawCommand(BYTE* buffer, LONG* length) {
    if (buffer == nullptr || length == nullptr) return E_POINTER;
    // Capture pins commonly carry a property-set interface without the maker's set: only a
    // pin that serves the command channel takes the command.
    if (CanGet(kPropSetCamera, kPropRawCommand)) {
        BYTE request[kPropBlockSize] = {};
        BYTE response[kPropBlockSize] = {};
        const std::size_t requestLength = RequestLength(*length, kRawCommandCapacity);
        WriteWord(request, 0, static_cast<DWORD>(requestLength));
        std::memcpy(request + 4, buffer, requestLength);
        DWORD returned = 0;
        const HRESULT hr =
            cameraProperties->Get(kPropSetCamera, kPropRawCommand, request, sizeof request,
                                  response, sizeof response, &returned);
        if (SUCCEEDED(hr)) {
            // The response's length word cannot claim more than the block or the reply holds.
            const std::size_t replied = std::min<std::size_t>(returned, sizeof response);
            const std::size_t received = replied > 4 ? replied - 4 : 0;
            const std::size_t n =
                std::min<std::size_t>({ReadWord(response, 0), received, kRawCommandCapacity});
            std::memcpy(buffer, response + 4, n);
            *length = static_cast<LONG>(n);
        }
        return hr;
    }
    if (transportControl) {
        // The device answers in place, in the caller's buffer.
        return transportControl->GetTransportBasicParameters(ED_RAW_EXT_DEV_CMD, length,
                                                             reinterpret_cast<LPOLESTR*>(buffer));
    }
    return S_FALSE;
}

void CMtxGraph::FindExtensionUnitNode() {
    ComPtr<IKsTopologyInfo> topology;
    if (FAILED(captureSource.As(IID_IKsTopologyInfo, topology))) return;
    DWORD nodes = 0;
    if (FAILED(topology->get_NumNodes(&nodes))) return;
    nodes = std::min(nodes, kMaxTopologyNodes);
    for (DWORD node = 0; node < nodes; ++node) {
        GUID type{};
        if (FAILED(topology->get_NodeType(node, &type))) continue;
        if (type == KSNODETYPE_DEV_SPECIFIC) {
            extensionUnitNode = node;
            return;
        }
    }
}

HRESULT CMtxGraph::MailboxRequest(IKsControl* control, ULONG flags, BYTE* data, ULONG* returned) {
    KSP_NODE request{};
    request.Property.Set = kPropSetExtensionUnit;
    request.Property.Id = kMailboxControl;
    request.Property.Flags = flags | KSPROPERTY_TYPE_TOPOLOGY;
    request.NodeId = extensionUnitNode;
    request.Reserved = 0;
    return control->KsProperty(reinterpret_cast<PKSPROPERTY>(&request), sizeof request, data,
                               static_cast<ULONG>(kMailboxSize), returned);
}

// The unit answers a request some time after it was written; a reply that begins with two
// zero bytes is not ready yet.
HRESULT CMtxGraph::ExtensionUnitTransact(BYTE* buffer, LONG* length) {
    if (!captureSource) return E_FAIL;
    if (buffer == nullptr || length == nullptr) return E_POINTER;
    if (extensionUnitNode == 0) FindExtensionUnitNode();
    ComPtr<IKsControl> control;
    HRESULT hr = captureSource.As(IID_IKsControl, control);
    if (FAILED(hr)) return hr;

    BYTE mailbox[kMailboxSize] = {};
    std::memcpy(mailbox, buffer, RequestLength(*length, kMailboxSize));
    ULONG returned = 0;
    MailboxRequest(control.Get(), KSPROPERTY_TYPE_SET, mailbox, &returned);

    DWORD wait = kFirstMailboxWait;
    for (int read = 1;; ++read) {
        std::memset(mailbox, 0, sizeof mailbox);
        returned = 0;
        hr = MailboxRequest(control.Get(), KSPROPERTY_TYPE_GET, mailbox, &returned);
        if (FAILED(hr)) return hr;
        std::memcpy(buffer, mailbox, sizeof mailbox);
        *length = static_cast<LONG>(std::min<std::size_t>(returned, sizeof mailbox));
        const bool ready = mailbox[0] != 0 || mailbox[1] != 0;
        if (ready || read == kMaxMailboxReads) return hr;
        Sleep(wait);
        wait *= 2;
    }
}

HRESULT CMtxGraph::SetTransportMode(LONG mode) {
    if (!transportControl) return S_OK;
    LONG current = 0;
    HRESULT hr = transportControl->get_Mode(&current);
    switch (mode) {
        case ED_MODE_PLAY:
        case ED_MODE_STOP:
        case ED_MODE_FREEZE:
        case ED_MODE_STEP_FWD:
        case ED_MODE_STEP_REV:
        case ED_MODE_PLAY_FASTEST_FWD:
        case ED_MODE_PLAY_FASTEST_REV:
            hr = transportControl->put_Mode(mode);
            break;
        case ED_MODE_FF:
            hr = transportControl->put_Mode(current == ED_MODE_PLAY ? ED_MODE_PLAY_FASTEST_FWD
                                                                    : ED_MODE_FF);
            break;
        case ED_MODE_REW:
            hr = transportControl->put_Mode(current == ED_MODE_PLAY ? ED_MODE_PLAY_FASTEST_REV
                                                                    : ED_MODE_REW);
            break;
        default:
            break;
    }
    return hr;
}

HRESULT CMtxGraph::ShowTransformPropertyPages(HWND parent) {
    if (!transform) return E_FAIL;
    ComPtr<ISpecifyPropertyPages> specify;
    if (FAILED(transform.As(IID_ISpecifyPropertyPages, specify))) return S_OK;
    FILTER_INFO info{};
    if (SUCCEEDED(transform->QueryFilterInfo(&info)) && info.pGraph != nullptr) {
        info.pGraph->Release();
    }
    ComPtr<IUnknown> object;
    transform.As(IID_IUnknown, object);
    CAUUID pages{};
    if (SUCCEEDED(specify->GetPages(&pages))) {
        IUnknown* objects[] = {object.Get()};
        OleCreatePropertyFrame(parent, 0, 0, info.achName, 1, objects, pages.cElems, pages.pElems,
                               0, 0, nullptr);
        CoTaskMemFree(pages.pElems);
    }
    return S_OK;
}
