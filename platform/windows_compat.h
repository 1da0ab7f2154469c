#pragma once
// Fills the gaps of the platform's own headers as shipped by the cross toolchain: the
// topology interface, two filter class declarations and the tape-transport constants.
// Included only on Windows, from platform/dshow/dshow.h.
#ifdef _WIN32
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

// The library defines these two; the headers do not declare them.
extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;
#endif
