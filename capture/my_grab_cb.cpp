#include "capture/my_grab_cb.h"

#include "capture/mtx_graph.h"

HRESULT CMyGrabCB::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_ISampleGrabberCB || riid == IID_IUnknown) {
        // No reference is counted: the graph owns this object.
        *ppv = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    return E_NOINTERFACE;
}

HRESULT CMyGrabCB::SampleCB(double, IMediaSample* sample) {
    if (sample == nullptr) return S_OK;
    sample->AddRef();
    graph->OnSample(sample);
    sample->Release();
    return S_OK;
}

HRESULT CMyGrabCB::BufferCB(double, BYTE*, LONG) {
    return E_NOTIMPL;
}
