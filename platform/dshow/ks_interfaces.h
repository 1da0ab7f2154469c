#pragma once
// Kernel-streaming property access: property sets on pins, topology nodes and node
// properties of the capture filter.
#include "platform/com/unknown.h"

DEFINE_GUID(IID_IKsPropertySet, 0x31EFAC30, 0x515C, 0x11D0, 0xA9, 0xAA, 0x00, 0xAA, 0x00, 0x61,
            0xBE, 0x93);
DEFINE_GUID(IID_IKsControl, 0x28F54685, 0x06FD, 0x11D2, 0xB2, 0x7A, 0x00, 0xA0, 0xC9, 0x22, 0x31,
            0x96);
DEFINE_GUID(IID_IKsTopologyInfo, 0x720D4AC0, 0x7533, 0x11D0, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1,
            0x00, 0x00);

// A pin's category (capture, preview...), which the capture graph builder asks pins for.
DEFINE_GUID(AMPROPSETID_Pin, 0x9B00F101, 0x1567, 0x11D1, 0xB3, 0xF1, 0x00, 0xAA, 0x00, 0x37, 0x61,
            0xC5);
constexpr DWORD AMPROPERTY_PIN_CATEGORY = 0;

DEFINE_GUID(PROPSETID_VIDCAP_VIDEOCONTROL, 0x6A2E0670, 0x28E4, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9,
            0x11, 0x89, 0x56);
DEFINE_GUID(KSNODETYPE_DEV_SPECIFIC, 0x941C7AC0, 0xC559, 0x11D0, 0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25,
            0x5A, 0xC1);

constexpr DWORD KSPROPERTY_SUPPORT_GET = 1;
constexpr DWORD KSPROPERTY_SUPPORT_SET = 2;

constexpr ULONG KSPROPERTY_TYPE_GET = 0x00000001;
constexpr ULONG KSPROPERTY_TYPE_SET = 0x00000002;
constexpr ULONG KSPROPERTY_TYPE_TOPOLOGY = 0x10000000;

constexpr ULONG KSPROPERTY_VIDEOCONTROL_FRAME_RATES = 2;

struct KSPROPERTY {
    GUID Set;
    ULONG Id;
    ULONG Flags;
};
using KSIDENTIFIER = KSPROPERTY;
using PKSPROPERTY = KSPROPERTY*;
static_assert(sizeof(KSPROPERTY) == 24);

struct KSP_NODE {
    KSPROPERTY Property;
    ULONG NodeId;
    ULONG Reserved;
};
static_assert(sizeof(KSP_NODE) == 32);

struct KSMULTIPLE_ITEM {
    ULONG Size;
    ULONG Count;
};

struct KSPROPERTY_VIDEOCONTROL_FRAME_RATES_S {
    KSPROPERTY Property;
    ULONG StreamIndex;
    LONG RangeIndex;
    SIZE Dimensions;
};
static_assert(sizeof(KSPROPERTY_VIDEOCONTROL_FRAME_RATES_S) == 40);

struct IKsPropertySet : public IUnknown {
    virtual HRESULT Set(REFGUID guidPropSet, DWORD dwPropID, LPVOID pInstanceData,
                        DWORD cbInstanceData, LPVOID pPropData, DWORD cbPropData) = 0;
    virtual HRESULT Get(REFGUID guidPropSet, DWORD dwPropID, LPVOID pInstanceData,
                        DWORD cbInstanceData, LPVOID pPropData, DWORD cbPropData,
                        DWORD* pcbReturned) = 0;
    virtual HRESULT QuerySupported(REFGUID guidPropSet, DWORD dwPropID, DWORD* pTypeSupport) = 0;
};

struct IKsControl : public IUnknown {
    virtual HRESULT KsProperty(PKSPROPERTY Property, ULONG PropertyLength, LPVOID PropertyData,
                               ULONG DataLength, ULONG* BytesReturned) = 0;
};

struct IKsTopologyInfo : public IUnknown {
    virtual HRESULT get_NumNodes(DWORD* pdwNumNodes) = 0;
    virtual HRESULT get_NodeType(DWORD dwNodeId, GUID* pNodeType) = 0;
};
