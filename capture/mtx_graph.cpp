// Construction, device selection, the stream chain and teardown.
#include "capture/mtx_graph.h"

#include <cstdio>
#include <cwctype>

#include "capture/capture_ids.h"
#include "capture/graph_helpers.h"
#include "capture/my_grab_cb.h"
#include "host/logging/logger.h"

using zrf::capture::CreateFilter;

namespace {

constexpr const char* kGrabberMissingKey = "CAMERA_UNKNOWN_ERROR";
constexpr const char* kGrabberMissingText =
    "Could not create sample grabber filter.\n"
    "Please make sure that you have DirectX\n"
    "version 8.1 or higher installed on your computer.\n";

bool SameTextIgnoringCase(const wchar_t* a, const std::wstring& b) {
    std::size_t i = 0;
    for (; a[i] != L'\0'; ++i) {
        if (i >= b.size() || std::towlower(a[i]) != std::towlower(b[i])) return false;
    }
    return i == b.size();
}

// Whether the moniker's property bag names this device path.
bool HasDevicePath(IMoniker* moniker, const std::wstring& path) {
    zrf::com::ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.ReceiveVoid())) ||
        !bag) {
        return false;
    }
    VARIANT value;
    VariantInit(&value);
    // VariantInit sets only the type before Windows 8.1: the string is set here, or a bag
    // without the value would leave VariantClear freeing whatever the stack held.
    value.vt = VT_BSTR;
    value.bstrVal = nullptr;
    bool same = false;
    if (SUCCEEDED(bag->Read(L"DevicePath", &value, nullptr)) && value.vt == VT_BSTR &&
        value.bstrVal != nullptr) {
        same = SameTextIgnoringCase(value.bstrVal, path);
    }
    VariantClear(&value);
    return same;
}

std::string CodeText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

}  // namespace

CMtxGraph::CMtxGraph() {
    currentType.formattype = FORMAT_None;
    for (MediaType& slot : formatSlots) slot->formattype = FORMAT_None;
}

CMtxGraph::~CMtxGraph() {
    Teardown();
}

void CMtxGraph::AttachStream(ImgSrcStream* stream) {
    imageStream = stream;
}

HRESULT CMtxGraph::SelectDevice(const std::wstring& path, const std::wstring& interfaceIndex,
                                bool radiometricUsb) {
    devicePath = path;
    interfaceIndexText = interfaceIndex;
    radiometricUsbMode = radiometricUsb;
    return FindDevice();
}

HRESULT CMtxGraph::FindDevice() {
    ComPtr<ICreateDevEnum> devices;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ICreateDevEnum, devices.ReceiveVoid());
    if (FAILED(hr)) return hr;
    ComPtr<IEnumMoniker> monikers;
    hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0);
    if (FAILED(hr)) return hr;
    if (!monikers) return E_FAIL;  // the category is empty

    monikers->Reset();
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.Receive(), nullptr) == S_OK) {
        if (moniker && HasDevicePath(moniker.Get(), devicePath)) {
            return BindCaptureSource(moniker.Get());
        }
    }
    return E_FAIL;
}

HRESULT CMtxGraph::BindCaptureSource(IMoniker* moniker) {
    ComPtr<IBaseFilter> source;
    HRESULT hr = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, source.ReceiveVoid());
    if (!source) return FAILED(hr) ? hr : E_FAIL;

    ReleaseGraph();
    captureSource = source;
    hr = CreateGraph();
    if (FAILED(hr)) return hr;

    if (SUCCEEDED(FindCaptureInterface(IID_IKsPropertySet, cameraProperties.ReceiveVoid()))) {
        ReadDeviceInfo();
        ReadModeValue();
    }
    FindCaptureInterface(IID_IAMExtTransport, transportControl.ReceiveVoid());
    CollectMediaTypes();
    return S_OK;
}

HRESULT CMtxGraph::CreateGraph() {
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IGraphBuilder, graphBuilder.ReceiveVoid());
    if (FAILED(hr)) return hr;
    const bool reused = static_cast<bool>(captureBuilder);
    if (!reused) {
        hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                              IID_ICaptureGraphBuilder2, captureBuilder.ReceiveVoid());
        if (FAILED(hr)) return hr;
    }
    hr = captureBuilder->SetFiltergraph(graphBuilder.Get());
    if (FAILED(hr) && reused) {
        // A capture graph builder keeps the first graph it was given for its lifetime, so a
        // new graph needs a new builder.
        ComPtr<ICaptureGraphBuilder2> fresh;
        hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                              IID_ICaptureGraphBuilder2, fresh.ReceiveVoid());
        if (FAILED(hr)) return hr;
        captureBuilder = fresh;
        hr = captureBuilder->SetFiltergraph(graphBuilder.Get());
    }
    if (FAILED(hr)) return hr;
    hr = graphBuilder->AddFilter(captureSource.Get(), devicePath.c_str());
    return FAILED(hr) ? hr : S_OK;
}

// Everything that belonged to a previously selected device and its graph: the filters are
// members of that graph and cannot join a new one.
void CMtxGraph::ReleaseGraph() {
    if (graphBuilder) Stop();
    ReleaseGraphObjects();
    transformPresent = false;
    extensionUnitNode = 0;
}

// The pins' interfaces, the filters and the graph they belong to; the capture graph builder
// stays, as it may serve the next graph.
void CMtxGraph::ReleaseGraphObjects() {
    droppedFrames.Reset();
    cameraProperties.Reset();
    transportControl.Reset();
    decompressor.Reset();
    irOutFilter.Reset();
    grabber.Reset();
    videoRenderer.Reset();
    nullRenderer.Reset();
    transform.Reset();
    dvDecoder.Reset();
    captureSource.Reset();
    graphBuilder.Reset();
}

HRESULT CMtxGraph::FindCaptureInterface(REFIID iid, void** out, const GUID* type) {
    *out = nullptr;
    if (!captureBuilder || !captureSource) return E_FAIL;
    HRESULT hr =
        captureBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, type, captureSource.Get(), iid, out);
    if (SUCCEEDED(hr) && *out == nullptr) return E_NOINTERFACE;
    return hr;
}

HRESULT CMtxGraph::FindFilterPin(IBaseFilter* filter, PIN_DIRECTION direction, bool unconnected,
                                 ComPtr<IPin>& pin, const GUID* type) {
    pin.Reset();
    if (!captureBuilder) return E_FAIL;
    if (filter == nullptr) return E_POINTER;
    HRESULT hr = captureBuilder->FindPin(filter, direction, nullptr, type,
                                         unconnected ? TRUE : FALSE, 0, pin.Receive());
    if (SUCCEEDED(hr) && !pin) return E_FAIL;
    return hr;
}

HRESULT CMtxGraph::BuildCaptureGraph(bool preview) {
    if (!graphBuilder || !captureBuilder || !captureSource) return E_FAIL;
    FillFrameRates();
    HRESULT hr = AddStreamFilters(preview);
    if (FAILED(hr)) return hr;
    return ConnectStreamChain(preview);
}

// Each filter is created once per object. The result is the last kept code: a missing
// transform is tolerated, a missing renderer is not. The video renderer only for a preview: it
// owns a window on the thread that creates it, and releasing it on another thread waits for
// that one to handle messages, so a capture graph released elsewhere (a disconnect from another
// thread while the connecting one waits for it) would hang.
HRESULT CMtxGraph::AddStreamFilters(bool preview) {
    HRESULT hr = S_OK;
    if (!grabber) {
        hr = CreateFilter(CLSID_SampleGrabber, grabber);
        if (FAILED(hr)) {
            Vorn::Zephra::Diagnostics::Log::Logger::LogUserError(
                kGrabberMissingKey, kGrabberMissingText, {CodeText(hr)});
            return hr;
        }
        hr = graphBuilder->AddFilter(grabber.Get(), L"Grabber");
        if (FAILED(hr)) {
            grabber.Reset();  // so that the next build tries again
            return hr;
        }
    }
    if (!transform) {
        hr = CreateFilter(zrf::capture::kClsidVornTransform, transform);
        if (SUCCEEDED(hr)) {
            hr = graphBuilder->AddFilter(transform.Get(), L"VORNTransform");
            transformPresent = SUCCEEDED(hr);
        }
    }
    if (!nullRenderer) {
        hr = CreateFilter(CLSID_NullRenderer, nullRenderer);
        if (SUCCEEDED(hr)) graphBuilder->AddFilter(nullRenderer.Get(), L"NULLRenderer");
    }
    if (!preview) return S_OK;  // the null renderer and the transform are optional
    if (!videoRenderer) {
        hr = CreateFilter(CLSID_VideoRenderer, videoRenderer);
        if (SUCCEEDED(hr)) graphBuilder->AddFilter(videoRenderer.Get(), L"Renderer");
    }
    return hr;
}

HRESULT CMtxGraph::ConnectStreamChain(bool preview) {
    ComPtr<ISampleGrabber> sampleGrabber;
    HRESULT hr = grabber.As(IID_ISampleGrabber, sampleGrabber);
    if (FAILED(hr)) return hr;
    hr = sampleGrabber->SetMediaType(&currentType);
    if (FAILED(hr)) return hr;
    sampleGrabber->SetOneShot(FALSE);
    sampleGrabber->SetBufferSamples(FALSE);

    ComPtr<IPin> captureOut, grabberIn, grabberOut, rendererIn;
    hr = FindFilterPin(captureSource.Get(), PINDIR_OUTPUT, false, captureOut, &MEDIATYPE_Video);
    if (FAILED(hr)) return hr;
    hr = FindFilterPin(grabber.Get(), PINDIR_INPUT, false, grabberIn);
    if (FAILED(hr)) return hr;
    hr = FindFilterPin(grabber.Get(), PINDIR_OUTPUT, false, grabberOut);
    if (FAILED(hr)) return hr;
    hr = graphBuilder->ConnectDirect(captureOut.Get(), grabberIn.Get(), &currentType);
    if (FAILED(hr)) return hr;
    if (preview) {
        hr = FindFilterPin(videoRenderer.Get(), PINDIR_INPUT, false, rendererIn);
        if (FAILED(hr)) return hr;
    }

    // The renderer connections are best effort: the samples reach the grabber either way.
    if (!preview) {
        ComPtr<IPin> nullIn;
        if (nullRenderer &&
            SUCCEEDED(FindFilterPin(nullRenderer.Get(), PINDIR_INPUT, false, nullIn))) {
            graphBuilder->ConnectDirect(grabberOut.Get(), nullIn.Get(), &currentType);
        }
    } else if (transformPresent && !radiometricUsbMode) {
        ComPtr<IPin> transformIn, transformOut;
        if (SUCCEEDED(FindFilterPin(transform.Get(), PINDIR_INPUT, false, transformIn)) &&
            SUCCEEDED(graphBuilder->Connect(grabberOut.Get(), transformIn.Get())) &&
            SUCCEEDED(FindFilterPin(transform.Get(), PINDIR_OUTPUT, false, transformOut))) {
            graphBuilder->Connect(transformOut.Get(), rendererIn.Get());
        }
    } else {
        graphBuilder->Connect(grabberOut.Get(), rendererIn.Get());
    }
    return FindCaptureInterface(IID_IAMDroppedFrames, droppedFrames.ReceiveVoid());
}

void CMtxGraph::Teardown() {
    // Neither the grabber nor a running graph may call into what is deleted below.
    if (graphBuilder) Stop();
    sampleCallback.reset();
    ReleaseGraphObjects();
    captureBuilder.Reset();
    CoFreeUnusedLibraries();

    // The slots own their format blocks; the current type only borrowed one of them.
    ClearCurrent();
    for (MediaType& slot : formatSlots) {
        MediaType().Swap(slot);
        slot->formattype = FORMAT_None;
    }
    MediaType().Swap(defaultType);
}
