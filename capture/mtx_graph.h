#pragma once
// The video side of one camera connection: finds the camera's capture device, builds the
// filter graph that ends in a sample grabber, negotiates the media format, runs and stops the
// graph, reaches the camera's controls below the graph, and forwards every sample to the
// attached image stream.
//
// No lock of its own: everything but the sample path runs under the device's lock. The sample
// path (OnSample, on the graph's streaming thread) reads only the image size and the stream,
// which are set while the graph is stopped.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/image_types.h"
#include "platform/dshow/dshow.h"

class ImgSrcStream;
class CMyGrabCB;

class CMtxGraph {
  public:
    CMtxGraph();
    virtual ~CMtxGraph();
    CMtxGraph(const CMtxGraph&) = delete;
    CMtxGraph& operator=(const CMtxGraph&) = delete;

    // Connection, in the order the device calls it.
    void AttachStream(ImgSrcStream* stream);
    HRESULT SelectDevice(const std::wstring& devicePath, const std::wstring& interfaceIndex,
                         bool radiometricUsb);
    bool IsMediaTypeAvailable(const GUID& subtype);
    HRESULT SetMediaType(const GUID& subtype);
    HRESULT BuildCaptureGraph(bool preview);

    // Alternative chains and the default format choice; nothing in the plug-in calls them.
    HRESULT BuildDecompressorChain();
    HRESULT BuildDVChain();
    HRESULT SelectDefaultMediaType(bool wantY800);

    // Streaming.
    HRESULT Run();
    HRESULT Stop();
    HRESULT SetFrameRate(double rate);
    double GetFrameRate();
    ImageSize GetImageSize() const;
    const std::vector<float>& FrameRates() const { return frameRates; }
    float MaxFrameRate() const { return maxFrameRate; }
    float MinFrameRate() const { return minFrameRate; }
    HRESULT GetDroppedFrames(LONG* count);

    // Camera controls below the graph.
    HRESULT ShowTransformPropertyPages(HWND parent);
    // 0 when the camera tells no serial number.
    LONG ReadDeviceSerial(IMoniker* moniker);
    HRESULT GetDeviceInfo(DWORD* word0, DWORD* word1, DWORD* word2, DWORD* word3);
    DWORD DeviceInfoWord() const { return deviceInfoWord; }
    const std::string& DeviceInfoText() const { return deviceInfoText; }
    ULONG ModeValue() const { return modeValue; }
    HRESULT WriteModeValue(ULONG value);
    // `buffer` holds at least 256 bytes; the response replaces the request and its length.
    HRESULT SendRawCommand(BYTE* buffer, LONG* length);
    // `buffer` holds at least 256 bytes; the reply replaces the request and its length.
    HRESULT ExtensionUnitTransact(BYTE* buffer, LONG* length);
    HRESULT SetTransportMode(LONG mode);

    bool TransformPresent() const { return transformPresent; }

    // The sample path: called by CMyGrabCB on the graph's streaming thread.
    void OnSample(IMediaSample* sample);

  private:
    template <class T>
    using ComPtr = zrf::com::ComPtr<T>;
    using MediaType = zrf::dshow::MediaType;

    enum Slot { SlotF7M0, SlotF7M2, SlotY800, SlotYUY2, SlotI420, SlotMJLS, SlotMJPG, SlotCount };

    // Device selection and graph construction.
    HRESULT FindDevice();
    HRESULT BindCaptureSource(IMoniker* moniker);
    HRESULT CreateGraph();
    void ReleaseGraph();
    void ReleaseGraphObjects();
    HRESULT AddStreamFilters(bool preview);
    HRESULT SourceRunResult();
    void RunWithoutReferenceClock();
    HRESULT ConnectStreamChain(bool preview);
    // The capture pin's interface (or the capture source's, where the pin has none).
    HRESULT FindCaptureInterface(REFIID iid, void** out, const GUID* type = &MEDIATYPE_Video);
    HRESULT FindFilterPin(IBaseFilter* filter, PIN_DIRECTION direction, bool unconnected,
                          ComPtr<IPin>& pin, const GUID* type = nullptr);

    // Formats.
    void CollectMediaTypes();
    void TakeIntoSlot(MediaType type);
    static int SlotOf(const GUID& subtype);
    void ClearCurrent();

    // Frame rates.
    void FillFrameRates();
    bool FillCameraFrameRates();
    void FillDerivedFrameRates();
    void PassFrameRateToStream(double rate);

    // Camera properties.
    void ReadDeviceInfo();
    void ReadModeValue();
    bool CanGet(const GUID& set, DWORD id);
    void FindExtensionUnitNode();
    HRESULT MailboxRequest(IKsControl* control, ULONG flags, BYTE* data, ULONG* returned);
    void Teardown();

    // Members in the order of the graph's state description.
    std::vector<float> frameRates;
    float maxFrameRate = 60.0f;
    float minFrameRate = 3.75f;
    bool transformPresent = false;
    bool radiometricUsbMode = false;
    ImageSize imageSize{0, 0};
    ComPtr<IGraphBuilder> graphBuilder;
    ComPtr<ICaptureGraphBuilder2> captureBuilder;
    ComPtr<IBaseFilter> captureSource;
    ComPtr<IBaseFilter> decompressor;
    ComPtr<IBaseFilter> irOutFilter;
    ComPtr<IBaseFilter> grabber;
    ComPtr<IBaseFilter> videoRenderer;
    ComPtr<IBaseFilter> nullRenderer;
    ComPtr<IBaseFilter> transform;
    ComPtr<IBaseFilter> dvDecoder;
    std::wstring devicePath;
    std::wstring interfaceIndexText;
    ComPtr<IAMExtTransport> transportControl;
    ComPtr<IKsPropertySet> cameraProperties;
    ComPtr<IAMDroppedFrames> droppedFrames;
    std::unique_ptr<CMyGrabCB> sampleCallback;
    ImgSrcStream* imageStream = nullptr;
    DWORD deviceInfoWord = 1;
    std::string deviceInfoText;
    std::array<DWORD, 4> deviceInfoWords{0, 0, 0, 0};
    ULONG modeValue = 2;
    // A shallow copy of the type that owns its format block (a slot, or defaultType below):
    // never freed through this member.
    AM_MEDIA_TYPE currentType{};
    std::array<MediaType, SlotCount> formatSlots;
    ULONG extensionUnitNode = 0;
    // Owns the current type's format block when SelectDefaultMediaType picked a type that no
    // slot keeps.
    MediaType defaultType;
};
