#include "tests/capture/lying_camera.h"

#include <algorithm>
#include <cstring>

namespace CaptureTest {
namespace {

constexpr CLSID kClsidLyingCamera = {
    0x3E0B3F51, 0x7A4C, 0x4D0E, {0x9C, 0x1A, 0x55, 0x21, 0x6B, 0x0D, 0x42, 0x77}};

class LyingFilter;

class LyingPin final : public zrf::dshow::PinBase, public IKsPropertySet, public IAMStreamConfig {
  public:
    LyingPin(zrf::dshow::FilterBase& owner, std::shared_ptr<LyingCameraSettings> settings,
             std::shared_ptr<LyingCameraLog> log)
        : PinBase(owner, PINDIR_OUTPUT, L"Capture", PIN_CATEGORY_CAPTURE),
          settings_(std::move(settings)),
          log_(std::move(log)) {}
    ZRF_COM_FORWARD_UNKNOWN(zrf::dshow::PinBase)

    HRESULT Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_NOTIMPL; }
    HRESULT Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size,
                DWORD* returned) override {
        const LyingCameraSettings& s = *settings_;
        auto* bytes = static_cast<BYTE*>(data);
        if (set == PROPSETID_VIDCAP_VIDEOCONTROL && s.frame_rate_reply) {
            std::memcpy(bytes, s.frame_rate_reply->data(),
                        std::min<std::size_t>(size, s.frame_rate_reply->size()));
            *returned = s.frame_rate_returned;
            return S_OK;
        }
        const std::vector<BYTE>& reply = id == 0 ? s.raw_reply : s.info_reply;
        if (id > 1 || reply.empty()) return E_PROP_ID_UNSUPPORTED;
        std::memcpy(bytes, reply.data(), std::min<std::size_t>(size, reply.size()));
        *returned = id == 0 ? s.raw_returned : static_cast<DWORD>(reply.size());
        return S_OK;
    }
    HRESULT QuerySupported(REFGUID set, DWORD id, DWORD* support) override {
        const LyingCameraSettings& s = *settings_;
        const bool offered =
            (set == PROPSETID_VIDCAP_VIDEOCONTROL && s.frame_rate_reply) ||
            (set != PROPSETID_VIDCAP_VIDEOCONTROL && id == 0 && !s.raw_reply.empty()) ||
            (set != PROPSETID_VIDCAP_VIDEOCONTROL && id == 1 && !s.info_reply.empty());
        *support = offered ? KSPROPERTY_SUPPORT_GET : 0;
        return offered ? S_OK : E_PROP_ID_UNSUPPORTED;
    }

    HRESULT SetFormat(AM_MEDIA_TYPE* pmt) override {
        const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(pmt->pbFormat);
        if (pmt->cbFormat >= sizeof(VIDEOINFOHEADER))
            log_->set_format_intervals.push_back(info->AvgTimePerFrame);
        return S_OK;
    }
    HRESULT GetFormat(AM_MEDIA_TYPE** ppmt) override {
        if (!settings_->format) return E_FAIL;
        *ppmt = CreateMediaType(&settings_->format->Get());
        return S_OK;
    }
    HRESULT GetNumberOfCapabilities(int* count, int* size) override {
        *count = settings_->capability_count;
        *size = settings_->capability_size;
        return S_OK;
    }
    HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** ppmt, BYTE* caps) override {
        const auto& list = settings_->capabilities;
        if (index < 0 || static_cast<std::size_t>(index) >= list.size()) return E_INVALIDARG;
        *ppmt = CreateMediaType(&list[static_cast<std::size_t>(index)].first.Get());
        std::memcpy(caps, &list[static_cast<std::size_t>(index)].second,
                    sizeof(VIDEO_STREAM_CONFIG_CAPS));
        return S_OK;
    }

  protected:
    void* FindExtraInterface(REFIID riid) override {
        if (riid == IID_IKsPropertySet) return static_cast<IKsPropertySet*>(this);
        if (riid == IID_IAMStreamConfig) return static_cast<IAMStreamConfig*>(this);
        return nullptr;
    }

  private:
    std::shared_ptr<LyingCameraSettings> settings_;
    std::shared_ptr<LyingCameraLog> log_;
};

class LyingFilter final : public zrf::dshow::FilterBase, public IKsTopologyInfo, public IKsControl {
  public:
    LyingFilter(std::shared_ptr<LyingCameraSettings> settings, std::shared_ptr<LyingCameraLog> log)
        : FilterBase(kClsidLyingCamera), settings_(settings), log_(log) {
        AddPin(std::make_unique<LyingPin>(*this, settings, log));
    }
    ZRF_COM_FORWARD_UNKNOWN(zrf::dshow::FilterBase)

    HRESULT get_NumNodes(DWORD* nodes) override {
        *nodes = settings_->topology_nodes;
        return S_OK;
    }
    HRESULT get_NodeType(DWORD node, GUID* type) override {
        ++log_->node_type_queries;
        if (node != 0) return E_INVALIDARG;
        *type = KSNODETYPE_DEV_SPECIFIC;
        return S_OK;
    }
    HRESULT KsProperty(PKSPROPERTY property, ULONG, LPVOID data, ULONG size,
                       ULONG* returned) override {
        if ((property->Flags & KSPROPERTY_TYPE_GET) == 0) return S_OK;
        ++log_->mailbox_reads;
        if (FAILED(settings_->mailbox_read_result)) return settings_->mailbox_read_result;
        const auto& reply = settings_->mailbox_reply;
        std::memcpy(data, reply.data(), std::min<std::size_t>(size, reply.size()));
        *returned = settings_->mailbox_returned;
        return S_OK;
    }

    HRESULT CheckMediaType(const zrf::dshow::PinBase&, const AM_MEDIA_TYPE&) override {
        return S_OK;
    }
    void GetMediaTypes(const zrf::dshow::PinBase&,
                       std::vector<zrf::dshow::MediaType>& out) override {
        out = settings_->offered;
    }

  protected:
    void* FindInterface(REFIID riid) override {
        if (riid == IID_IKsTopologyInfo) return static_cast<IKsTopologyInfo*>(this);
        if (riid == IID_IKsControl) return static_cast<IKsControl*>(this);
        return FilterBase::FindInterface(riid);
    }

  private:
    std::shared_ptr<LyingCameraSettings> settings_;
    std::shared_ptr<LyingCameraLog> log_;
};

}  // namespace

LyingCamera::LyingCamera(LyingCameraSettings settings)
    : settings_(std::make_shared<LyingCameraSettings>(std::move(settings))) {
    auto shared = settings_;
    auto log = log_;
    zrf::dshow::VideoInputDevice entry;
    entry.friendly_name = L"Lying Camera";
    entry.device_path = shared->path;
    entry.display_name = L"@device:pnp:" + shared->path;
    entry.create_filter = [shared, log](IBaseFilter** filter) {
        *filter = zrf::com::MakeCom<LyingFilter>(shared, log).Detach();
        return S_OK;
    };
    id_ = zrf::dshow::VideoInputDevices::Add(std::move(entry));
}

LyingCamera::~LyingCamera() {
    zrf::dshow::VideoInputDevices::Remove(id_);
}

zrf::dshow::MediaType OfferedType(const GUID& subtype, LONG width, LONG height,
                                  REFERENCE_TIME interval, const GUID& format_type,
                                  ULONG format_size) {
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

}  // namespace CaptureTest
