#pragma once
// Capture-pin stream configuration and statistics, and tape transport control.
#include "platform/dshow/filter_interfaces.h"

DEFINE_GUID(IID_IAMStreamConfig, 0xC6E13340, 0x30AC, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11,
            0x89, 0x56);
DEFINE_GUID(IID_IAMDroppedFrames, 0xC6E13344, 0x30AC, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11,
            0x89, 0x56);
DEFINE_GUID(IID_IAMExtTransport, 0xA03CD5F0, 0x3045, 0x11CF, 0x8C, 0x44, 0x00, 0xAA, 0x00, 0x6B,
            0x68, 0x14);

struct IAMStreamConfig : public IUnknown {
    virtual HRESULT SetFormat(AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT GetFormat(AM_MEDIA_TYPE** ppmt) = 0;
    virtual HRESULT GetNumberOfCapabilities(int* piCount, int* piSize) = 0;
    virtual HRESULT GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) = 0;
};

struct IAMDroppedFrames : public IUnknown {
    virtual HRESULT GetNumDropped(LONG* plDropped) = 0;
    virtual HRESULT GetNumNotDropped(LONG* plNotDropped) = 0;
    virtual HRESULT GetDroppedInfo(LONG lSize, LONG* plArray, LONG* plNumCopied) = 0;
    virtual HRESULT GetAverageFrameSize(LONG* plAverageSize) = 0;
};

struct IAMExtTransport : public IUnknown {
    virtual HRESULT GetTransportBasicParameters(LONG Param, LONG* pValue, LPOLESTR* ppszData) = 0;
    virtual HRESULT get_Mode(LONG* pMode) = 0;
    virtual HRESULT put_Mode(LONG Mode) = 0;
};
