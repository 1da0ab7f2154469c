#pragma once
// The sample grabber's callback: hands every sample to the owning graph. Owned by the graph
// and deleted by it; it counts no references, so the grabber's AddRef and Release never
// decide its lifetime.
#include "platform/dshow/dshow.h"

class CMtxGraph;

class CMyGrabCB final : public ISampleGrabberCB {
  public:
    explicit CMyGrabCB(CMtxGraph* graph) : graph(graph) {}
    virtual ~CMyGrabCB() = default;
    CMyGrabCB(const CMyGrabCB&) = delete;
    CMyGrabCB& operator=(const CMyGrabCB&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SampleCB(double sampleTime, IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE BufferCB(double sampleTime, BYTE* buffer, LONG length) override;

  private:
    CMtxGraph* graph;  // not owned
};
