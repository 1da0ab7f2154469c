#pragma once
// A capture filter whose driver reports whatever the test says: format blocks of any size and
// content, frame-rate replies whose counts and lengths overrun their buffers, stream
// capabilities with intervals of 0, property and mailbox replies longer than they can be or
// with texts that never end.
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "imaging/media_subtypes.h"
#include "platform/dshow/filter_base.h"
#include "platform/dshow/video_input_devices.h"

namespace CaptureTest {

// A media type with a format block of the given type and size, holding a video information
// header with these values as far as the block reaches.
inline zrf::dshow::MediaType OfferedType(const GUID& subtype, LONG width, LONG height,
                                         REFERENCE_TIME interval = 333333,
                                         const GUID& format_type = FORMAT_VideoInfo,
                                         ULONG format_size = sizeof(VIDEOINFOHEADER)) {
    zrf::dshow::MediaType result;
    AM_MEDIA_TYPE& mt = result.Get();
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = subtype;
    mt.formattype = format_type;
    VIDEOINFOHEADER info{};
    info.AvgTimePerFrame = interval;
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    mt.cbFormat = format_size;
    mt.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(std::max<ULONG>(format_size, 1)));
    std::memset(mt.pbFormat, 0, format_size);
    std::memcpy(mt.pbFormat, &info, std::min<std::size_t>(format_size, sizeof info));
    return result;
}

struct LyingCameraSettings {
    std::vector<zrf::dshow::MediaType> offered = {OfferedType(kSubtypeF7M0, 640, 483)};
    // The video-control frame-rate reply as sent (empty: not offered), and the length the
    // driver claims.
    std::vector<BYTE> frame_rate_reply;
    DWORD frame_rate_returned = 0;
    // Stream capabilities: the count and structure size the driver claims, and the entries.
    int capability_count = 0;
    int capability_size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    std::vector<std::pair<zrf::dshow::MediaType, VIDEO_STREAM_CONFIG_CAPS>> capabilities;
    std::optional<zrf::dshow::MediaType> format;  // what GetFormat reports
    // Camera property 0 (raw command): the reply and the length claimed returned.
    std::vector<BYTE> raw_reply;
    DWORD raw_returned = 0;
    std::vector<BYTE> info_reply;  // camera property 1 (device information)
    // Mailbox reads: the reply, the length claimed returned, and a read failure.
    std::vector<BYTE> mailbox_reply;
    ULONG mailbox_returned = 256;
    HRESULT mailbox_read_result = S_OK;
    DWORD topology_nodes = 1;  // node 0 is the vendor-specific unit
    // What the filter was asked.
    std::vector<REFERENCE_TIME> set_format_intervals;
    int mailbox_reads = 0;
};
using LyingState = std::shared_ptr<LyingCameraSettings>;

class LyingPin final : public zrf::dshow::PinBase, public IKsPropertySet, public IAMStreamConfig {
  public:
    LyingPin(zrf::dshow::FilterBase& owner, LyingState s)
        : PinBase(owner, PINDIR_OUTPUT, L"Capture", PIN_CATEGORY_CAPTURE), s_(std::move(s)) {}
    ZRF_COM_FORWARD_UNKNOWN(zrf::dshow::PinBase)

    const std::vector<BYTE>& Reply(REFGUID set, DWORD id) const {
        static const std::vector<BYTE> none;
        return set == PROPSETID_VIDCAP_VIDEOCONTROL ? s_->frame_rate_reply
               : id == 0                            ? s_->raw_reply
               : id == 1                            ? s_->info_reply
                                                    : none;
    }
    HRESULT Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_NOTIMPL; }
    HRESULT Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size,
                DWORD* returned) override {
        const std::vector<BYTE>& reply = Reply(set, id);
        if (reply.empty()) return E_PROP_ID_UNSUPPORTED;
        std::memcpy(data, reply.data(), std::min<std::size_t>(size, reply.size()));
        *returned = set == PROPSETID_VIDCAP_VIDEOCONTROL ? s_->frame_rate_returned
                    : id == 0                            ? s_->raw_returned
                                                         : static_cast<DWORD>(reply.size());
        return S_OK;
    }
    HRESULT QuerySupported(REFGUID set, DWORD id, DWORD* support) override {
        *support = Reply(set, id).empty() ? 0 : KSPROPERTY_SUPPORT_GET;
        return *support ? S_OK : E_PROP_ID_UNSUPPORTED;
    }
    HRESULT SetFormat(AM_MEDIA_TYPE* pmt) override {
        if (pmt->cbFormat >= sizeof(VIDEOINFOHEADER))
            s_->set_format_intervals.push_back(
                reinterpret_cast<const VIDEOINFOHEADER*>(pmt->pbFormat)->AvgTimePerFrame);
        return S_OK;
    }
    HRESULT GetFormat(AM_MEDIA_TYPE** ppmt) override {
        if (s_->format) *ppmt = CreateMediaType(&s_->format->Get());
        return s_->format ? S_OK : E_FAIL;
    }
    HRESULT GetNumberOfCapabilities(int* count, int* size) override {
        *count = s_->capability_count;
        *size = s_->capability_size;
        return S_OK;
    }
    HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** ppmt, BYTE* caps) override {
        if (index < 0 || static_cast<std::size_t>(index) >= s_->capabilities.size())
            return E_INVALIDARG;
        const auto& [type, limits] = s_->capabilities[static_cast<std::size_t>(index)];
        *ppmt = CreateMediaType(&type.Get());
        std::memcpy(caps, &limits, sizeof limits);
        return S_OK;
    }

  protected:
    void* FindExtraInterface(REFIID riid) override {
        if (riid == IID_IKsPropertySet) return static_cast<IKsPropertySet*>(this);
        if (riid == IID_IAMStreamConfig) return static_cast<IAMStreamConfig*>(this);
        return nullptr;
    }

  private:
    LyingState s_;
};

class LyingFilter final : public zrf::dshow::FilterBase, public IKsTopologyInfo, public IKsControl {
  public:
    explicit LyingFilter(LyingState s)
        : FilterBase(
              {0x3E0B3F51, 0x7A4C, 0x4D0E, {0x9C, 0x1A, 0x55, 0x21, 0x6B, 0x0D, 0x42, 0x77}}),
          s_(s) {
        AddPin(std::make_unique<LyingPin>(*this, s));
    }
    ZRF_COM_FORWARD_UNKNOWN(zrf::dshow::FilterBase)

    HRESULT get_NumNodes(DWORD* nodes) override {
        *nodes = s_->topology_nodes;
        return S_OK;
    }
    HRESULT get_NodeType(DWORD node, GUID* type) override {
        *type = KSNODETYPE_DEV_SPECIFIC;
        return node == 0 ? S_OK : E_INVALIDARG;
    }
    HRESULT KsProperty(PKSPROPERTY property, ULONG, LPVOID data, ULONG size,
                       ULONG* returned) override {
        if ((property->Flags & KSPROPERTY_TYPE_GET) == 0) return S_OK;
        ++s_->mailbox_reads;
        if (FAILED(s_->mailbox_read_result)) return s_->mailbox_read_result;
        std::memcpy(data, s_->mailbox_reply.data(),
                    std::min<std::size_t>(size, s_->mailbox_reply.size()));
        *returned = s_->mailbox_returned;
        return S_OK;
    }
    HRESULT CheckMediaType(const zrf::dshow::PinBase&, const AM_MEDIA_TYPE&) override {
        return S_OK;
    }
    void GetMediaTypes(const zrf::dshow::PinBase&,
                       std::vector<zrf::dshow::MediaType>& out) override {
        out = s_->offered;
    }

  protected:
    void* FindInterface(REFIID riid) override {
        if (riid == IID_IKsTopologyInfo) return static_cast<IKsTopologyInfo*>(this);
        if (riid == IID_IKsControl) return static_cast<IKsControl*>(this);
        return FilterBase::FindInterface(riid);
    }

  private:
    LyingState s_;
};

// Lists the filter in the video-input category while it lives; `Log` is what it was asked.
class LyingCamera {
  public:
    static constexpr const wchar_t* kPath = L"\\\\?\\usb#vid_0000&pid_0000#lying#{0}";
    explicit LyingCamera(LyingCameraSettings settings)
        : s_(std::make_shared<LyingCameraSettings>(std::move(settings))),
          id_(zrf::dshow::VideoInputDevices::Add(
              {L"Lying Camera", kPath, std::wstring(L"@device:pnp:") + kPath,
               [s = s_](IBaseFilter** filter) {
                   *filter = zrf::com::MakeCom<LyingFilter>(s).Detach();
                   return S_OK;
               }})) {}
    ~LyingCamera() { zrf::dshow::VideoInputDevices::Remove(id_); }
    LyingCamera(const LyingCamera&) = delete;
    LyingCamera& operator=(const LyingCamera&) = delete;
    const LyingCameraSettings& Log() const { return *s_; }

  private:
    LyingState s_;
    zrf::dshow::VideoInputDevices::Id id_;
};

}  // namespace CaptureTest
