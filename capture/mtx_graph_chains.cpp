// The two alternative chains behind the capture source: through the AVI decompressor into the
// maker's IR output filter, and through the DV decoder into the grabber. Both follow a
// successful device selection; the first failure ends them.
#include "capture/capture_ids.h"
#include "capture/graph_helpers.h"
#include "capture/mtx_graph.h"

using zrf::capture::CreateFilter;

HRESULT CMtxGraph::BuildDecompressorChain() {
    if (!graphBuilder || !captureBuilder || !captureSource) return E_FAIL;
    HRESULT hr = CreateFilter(CLSID_AVIDec, decompressor);
    if (FAILED(hr)) return hr;
    hr = graphBuilder->AddFilter(decompressor.Get(), L"AVI Decompressor");
    if (FAILED(hr)) return hr;

    ComPtr<IPin> captureOut, decompressorIn;
    hr = FindFilterPin(captureSource.Get(), PINDIR_OUTPUT, true, captureOut, &MEDIATYPE_Video);
    if (FAILED(hr)) return hr;
    hr = FindFilterPin(decompressor.Get(), PINDIR_INPUT, true, decompressorIn);
    if (FAILED(hr)) return hr;
    hr = graphBuilder->ConnectDirect(captureOut.Get(), decompressorIn.Get(), nullptr);
    if (FAILED(hr)) return hr;

    hr = CreateFilter(zrf::capture::kClsidIrOut, irOutFilter);
    if (FAILED(hr)) return hr;
    hr = graphBuilder->AddFilter(irOutFilter.Get(), L"IROut");
    if (FAILED(hr)) return hr;
    ComPtr<IPin> decompressorOut, irOutIn;
    hr = FindFilterPin(decompressor.Get(), PINDIR_OUTPUT, true, decompressorOut);
    if (FAILED(hr)) return hr;
    hr = FindFilterPin(irOutFilter.Get(), PINDIR_INPUT, true, irOutIn);
    if (FAILED(hr)) return hr;
    return graphBuilder->Connect(decompressorOut.Get(), irOutIn.Get());
}

HRESULT CMtxGraph::BuildDVChain() {
    if (!graphBuilder || !captureBuilder || !captureSource) return E_FAIL;
    HRESULT hr = CreateFilter(CLSID_SampleGrabber, grabber);
    if (FAILED(hr)) return hr;
    ComPtr<ISampleGrabber> sampleGrabber;
    hr = grabber.As(IID_ISampleGrabber, sampleGrabber);
    if (FAILED(hr)) return hr;
    hr = sampleGrabber->SetMediaType(&currentType);
    if (FAILED(hr)) return hr;
    sampleGrabber->SetOneShot(FALSE);
    sampleGrabber->SetBufferSamples(FALSE);
    hr = graphBuilder->AddFilter(grabber.Get(), L"Grabber");
    if (FAILED(hr)) return hr;
    ComPtr<IPin> grabberIn, grabberOut;
    hr = FindFilterPin(grabber.Get(), PINDIR_INPUT, true, grabberIn);
    if (FAILED(hr)) return hr;
    hr = FindFilterPin(grabber.Get(), PINDIR_OUTPUT, true, grabberOut);
    if (FAILED(hr)) return hr;

    hr = CreateFilter(CLSID_DVVidDec, dvDecoder);
    if (FAILED(hr)) return hr;
    hr = graphBuilder->AddFilter(dvDecoder.Get(), L"DV Codec");
    if (FAILED(hr)) return hr;
    ComPtr<IPin> captureOut, decoderIn, decoderOut;
    hr = FindFilterPin(captureSource.Get(), PINDIR_OUTPUT, true, captureOut, &MEDIATYPE_Video);
    if (FAILED(hr)) return hr;
    hr = FindFilterPin(dvDecoder.Get(), PINDIR_INPUT, true, decoderIn);
    if (FAILED(hr)) return hr;
    hr = graphBuilder->Connect(captureOut.Get(), decoderIn.Get());
    if (FAILED(hr)) return hr;
    hr = FindFilterPin(dvDecoder.Get(), PINDIR_OUTPUT, true, decoderOut);
    if (FAILED(hr)) return hr;
    hr = graphBuilder->Connect(decoderOut.Get(), grabberIn.Get());
    if (FAILED(hr)) return hr;

    hr = CreateFilter(CLSID_VideoRenderer, videoRenderer);
    if (FAILED(hr)) return hr;
    hr = graphBuilder->AddFilter(videoRenderer.Get(), L"VideoRenderer");
    if (FAILED(hr)) return hr;
    ComPtr<IPin> rendererIn;
    hr = FindFilterPin(videoRenderer.Get(), PINDIR_INPUT, true, rendererIn);
    if (FAILED(hr)) return hr;
    return graphBuilder->ConnectDirect(grabberOut.Get(), rendererIn.Get(), nullptr);
}
