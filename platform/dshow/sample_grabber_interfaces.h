#pragma once
// The sample grabber and the callback it calls for every sample.
#include "platform/dshow/filter_interfaces.h"

DEFINE_GUID(IID_ISampleGrabber, 0x6B652FFF, 0x11FE, 0x4FCE, 0x92, 0xAD, 0x02, 0x66, 0xB5, 0xD7,
            0xC7, 0x8F);
DEFINE_GUID(IID_ISampleGrabberCB, 0x0579154A, 0x2B53, 0x4994, 0xB0, 0xD0, 0xE7, 0x73, 0x14, 0x8E,
            0xFF, 0x85);

struct ISampleGrabberCB : public IUnknown {
    virtual HRESULT SampleCB(double SampleTime, IMediaSample* pSample) = 0;
    virtual HRESULT BufferCB(double SampleTime, BYTE* pBuffer, LONG BufferLen) = 0;
};

struct ISampleGrabber : public IUnknown {
    virtual HRESULT SetOneShot(BOOL OneShot) = 0;
    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* pType) = 0;
    virtual HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* pType) = 0;
    virtual HRESULT SetBufferSamples(BOOL BufferThem) = 0;
    virtual HRESULT GetCurrentBuffer(LONG* pBufferSize, LONG* pBuffer) = 0;
    virtual HRESULT GetCurrentSample(IMediaSample** ppSample) = 0;
    virtual HRESULT SetCallback(ISampleGrabberCB* pCallback, LONG WhichMethodToCallback) = 0;
};
