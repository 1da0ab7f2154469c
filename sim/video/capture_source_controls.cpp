// Controls of the capture filter itself: tape transport (IEEE-1394 devices), the topology
// that locates the vendor-specific unit, and that unit's mailbox.
#include <cstring>

#include "sim/video/capture_source_filter.h"

namespace zrf::sim {

#ifndef _WIN32
HRESULT CaptureSourceFilter::get_Mode(LONG* pMode) {
    if (pMode == nullptr) return E_POINTER;
    *pMode = device_->TransportMode();
    return S_OK;
}

HRESULT CaptureSourceFilter::put_Mode(LONG Mode) {
    return device_->PutTransportMode(Mode);
}

HRESULT CaptureSourceFilter::GetTransportBasicParameters(LONG Param, LONG* pValue,
                                                         LPOLESTR* ppszData) {
    if (Param != ED_RAW_EXT_DEV_CMD) return E_NOTIMPL;
    if (pValue == nullptr || ppszData == nullptr) return E_POINTER;
    if (*pValue < 0) return E_INVALIDARG;
    // A raw command is answered in place, in the caller's buffer; the answer cannot be
    // longer than the request, since that is all the buffer is known to hold.
    auto* buffer = reinterpret_cast<BYTE*>(ppszData);
    auto length = static_cast<std::size_t>(*pValue);
    std::vector<BYTE> response = device_->RawCommand(buffer, length);
    std::size_t n = std::min(response.size(), length);
    std::memcpy(buffer, response.data(), n);
    *pValue = static_cast<LONG>(n);
    return S_OK;
}

#endif

DWORD CaptureSourceFilter::ExtensionUnitNode() const {
    return static_cast<DWORD>(Settings().extension_unit->nodes_before.size());
}

HRESULT CaptureSourceFilter::get_NumNodes(DWORD* pdwNumNodes) {
    if (pdwNumNodes == nullptr) return E_POINTER;
    *pdwNumNodes = ExtensionUnitNode() + 1;
    return S_OK;
}

HRESULT CaptureSourceFilter::get_NodeType(DWORD dwNodeId, GUID* pNodeType) {
    if (pNodeType == nullptr) return E_POINTER;
    const auto& before = Settings().extension_unit->nodes_before;
    if (dwNodeId == ExtensionUnitNode()) {
        *pNodeType = KSNODETYPE_DEV_SPECIFIC;
        return S_OK;
    }
    if (dwNodeId > ExtensionUnitNode()) return E_INVALIDARG;
    if (before[dwNodeId] == GUID_NULL) return E_FAIL;
    *pNodeType = before[dwNodeId];
    return S_OK;
}

HRESULT CaptureSourceFilter::KsProperty(PKSPROPERTY Property, ULONG PropertyLength,
                                        LPVOID PropertyData, ULONG DataLength,
                                        ULONG* BytesReturned) {
    if (Property == nullptr || BytesReturned == nullptr) return E_POINTER;
    *BytesReturned = 0;
    if (PropertyLength < sizeof(KSPROPERTY)) return E_INVALIDARG;
    if (Property->Set != PROPSETID_MakerExtensionUnit) return E_PROP_SET_UNSUPPORTED;
    if (Property->Id != kMailboxControl) return E_PROP_ID_UNSUPPORTED;
    // The unit's controls are node properties: the request must name the unit's node.
    if ((Property->Flags & KSPROPERTY_TYPE_TOPOLOGY) == 0 || PropertyLength < sizeof(KSP_NODE)) {
        return E_INVALIDARG;
    }
    KSP_NODE node{};
    std::memcpy(&node, Property, sizeof node);
    if (node.NodeId != ExtensionUnitNode()) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    if (PropertyData == nullptr) return E_POINTER;
    if (DataLength == 0 || DataLength > kMailboxSize) return E_INVALIDARG;
    auto* data = static_cast<BYTE*>(PropertyData);
    if (Property->Flags & KSPROPERTY_TYPE_SET) {
        device_->WriteMailbox(data, DataLength);
        *BytesReturned = DataLength;
        return S_OK;
    }
    if (Property->Flags & KSPROPERTY_TYPE_GET) {
        *BytesReturned = static_cast<ULONG>(device_->ReadMailbox(data, DataLength));
        return S_OK;
    }
    return E_INVALIDARG;
}

#ifdef _WIN32
// Only the nodes are described; the rest of the topology is nobody's concern here.
HRESULT CaptureSourceFilter::get_NumCategories(DWORD*) {
    return E_NOTIMPL;
}
HRESULT CaptureSourceFilter::get_Category(DWORD, GUID*) {
    return E_NOTIMPL;
}
HRESULT CaptureSourceFilter::get_NumConnections(DWORD*) {
    return E_NOTIMPL;
}
HRESULT CaptureSourceFilter::get_ConnectionInfo(DWORD, void*) {
    return E_NOTIMPL;
}
HRESULT CaptureSourceFilter::get_NodeName(DWORD, WCHAR*, DWORD, DWORD*) {
    return E_NOTIMPL;
}
HRESULT CaptureSourceFilter::CreateNodeInstance(DWORD, REFIID, void** ppvObject) {
    if (ppvObject != nullptr) *ppvObject = nullptr;
    return E_NOTIMPL;
}

HRESULT CaptureSourceFilter::KsMethod(PKSMETHOD, ULONG, LPVOID, ULONG, ULONG* BytesReturned) {
    if (BytesReturned != nullptr) *BytesReturned = 0;
    return E_PROP_SET_UNSUPPORTED;
}

HRESULT CaptureSourceFilter::KsEvent(PKSEVENT, ULONG, LPVOID, ULONG, ULONG* BytesReturned) {
    if (BytesReturned != nullptr) *BytesReturned = 0;
    return E_PROP_SET_UNSUPPORTED;
}
#endif

}  // namespace zrf::sim
