// Uses every platform name the capture code relies on, so that one build shows whether the
// platform's own headers and libraries (or the stand-in) provide them. Never run.
#include "platform/dshow/dshow.h"
#include "platform/time/windows_time.h"

using zrf::com::ComPtr;

int main() {
    ComPtr<ICreateDevEnum> devenum;
    CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                     devenum.ReceiveVoid());
    ComPtr<IEnumMoniker> monikers;
    if (devenum)
        devenum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0);
    ComPtr<IBaseFilter> grabber;
    CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                     grabber.ReceiveVoid());
    ComPtr<ISampleGrabber> sample_grabber;
    if (grabber) grabber.As(IID_ISampleGrabber, sample_grabber);
    ComPtr<IBaseFilter> renderer;
    CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                     renderer.ReceiveVoid());
    const GUID* ids[] = {&IID_IKsTopologyInfo,
                         &IID_IKsControl,
                         &IID_IKsPropertySet,
                         &IID_IAMStreamConfig,
                         &IID_IAMDroppedFrames,
                         &IID_IAMExtTransport,
                         &IID_ISampleGrabberCB,
                         &IID_ISpecifyPropertyPages,
                         &IID_IMediaControl,
                         &IID_ICaptureGraphBuilder2,
                         &IID_IPropertyBag,
                         &KSNODETYPE_DEV_SPECIFIC,
                         &PROPSETID_VIDCAP_VIDEOCONTROL,
                         &PIN_CATEGORY_CAPTURE,
                         &MEDIATYPE_Video,
                         &FORMAT_VideoInfo,
                         &FORMAT_None,
                         &CLSID_FilterGraph,
                         &CLSID_CaptureGraphBuilder2,
                         &CLSID_VideoRenderer,
                         &CLSID_AVIDec,
                         &CLSID_DVVidDec};
    zrf::dshow::MediaType type;
    KSP_NODE node{};
    VIDEO_STREAM_CONFIG_CAPS caps{};
    static_assert(sizeof(caps) == 128);
    long modes[] = {ED_MODE_PLAY,
                    ED_MODE_STOP,
                    ED_MODE_FREEZE,
                    ED_MODE_FF,
                    ED_MODE_REW,
                    ED_MODE_STEP_FWD,
                    ED_MODE_STEP_REV,
                    ED_MODE_PLAY_FASTEST_FWD,
                    ED_MODE_PLAY_FASTEST_REV,
                    ED_RAW_EXT_DEV_CMD};
    IBindCtx* context = nullptr;
    CreateBindCtx(0, &context);
    OleCreatePropertyFrame(nullptr, 0, 0, L"", 0, nullptr, 0, nullptr, 0, 0, nullptr);
    timeBeginPeriod(1);
    __timeb32 now{};
    _ftime32(&now);
    Sleep(timeGetTime() % 2);
    timeEndPeriod(1);
    CoFreeUnusedLibraries();
    return static_cast<int>(sizeof ids + sizeof node + sizeof modes) + (type->pbFormat != nullptr);
}
