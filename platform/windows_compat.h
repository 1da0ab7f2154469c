#pragma once
// Fills the gaps of the platform's own headers as shipped by the cross toolchain: the
// topology interface, three filter class identifiers, the property frame and the
// tape-transport constants.
// Included only on Windows, from platform/dshow/dshow.h.
#ifdef _WIN32
#include <olectl.h>
#include <strmif.h>

#include "platform/dshow/ext_device_defs.h"

#ifndef __IKsTopologyInfo_INTERFACE_DEFINED__
#define __IKsTopologyInfo_INTERFACE_DEFINED__
// No library defines this identifier either: one constant per translation unit.
inline constexpr GUID IID_IKsTopologyInfo = {
    0x720D4AC0, 0x7533, 0x11D0, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
struct IKsTopologyInfo : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_NumCategories(DWORD* pdwNumCategories) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Category(DWORD dwIndex, GUID* pCategory) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NumConnections(DWORD* pdwNumConnections) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ConnectionInfo(DWORD dwIndex, void* pConnectionInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NodeName(DWORD dwNodeId, WCHAR* pwchNodeName,
                                                   DWORD dwBufSize, DWORD* pdwNameLen) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NumNodes(DWORD* pdwNumNodes) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NodeType(DWORD dwNodeId, GUID* pNodeType) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateNodeInstance(DWORD dwNodeId, REFIID iid,
                                                         void** ppvObject) = 0;
};
#endif

// Neither declared by these headers nor defined by their libraries: the platform's value.
inline constexpr CLSID CLSID_DVVidDec = {
    0xB1B77C00, 0xC3E4, 0x11CF, {0xAF, 0x79, 0x00, 0xAA, 0x00, 0xB6, 0x7A, 0x42}};

// The library defines these two; the headers do not declare them.
extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;
#endif
