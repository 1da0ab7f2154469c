#pragma once
// A capture filter whose driver reports whatever the test says: format blocks of any size and
// content, frame-rate replies whose counts and lengths overrun their buffers, stream
// capabilities with intervals of 0, property and mailbox replies longer than they can be or
// with texts that never end.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dshow/filter_base.h"
#include "platform/dshow/video_input_devices.h"

namespace CaptureTest {

struct LyingCameraSettings {
    std::wstring path = L"\\\\?\\usb#vid_0000&pid_0000#lying#{0}";
    std::vector<zrf::dshow::MediaType> offered;
    // The video-control frame-rate reply as sent, and the length the driver claims.
    std::optional<std::vector<BYTE>> frame_rate_reply;
    DWORD frame_rate_returned = 0;
    // Stream capabilities: the count and structure size the driver claims, and the entries.
    int capability_count = 0;
    int capability_size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    std::vector<std::pair<zrf::dshow::MediaType, VIDEO_STREAM_CONFIG_CAPS>> capabilities;
    // What GetFormat reports.
    std::optional<zrf::dshow::MediaType> format;
    // Camera property 0 (raw command): the reply and the length claimed returned.
    std::vector<BYTE> raw_reply;
    DWORD raw_returned = 0;
    // Camera property 1 (device information): the reply as sent.
    std::vector<BYTE> info_reply;
    // Mailbox reads: the reply, the length claimed returned, and a read failure.
    std::vector<BYTE> mailbox_reply;
    ULONG mailbox_returned = 256;
    HRESULT mailbox_read_result = S_OK;
    DWORD topology_nodes = 1;  // node 0 is the vendor-specific unit
};

// What the filter was asked.
struct LyingCameraLog {
    std::vector<REFERENCE_TIME> set_format_intervals;
    int mailbox_reads = 0;
    int node_type_queries = 0;
};

// Lists the filter in the video-input category while it lives.
class LyingCamera {
  public:
    explicit LyingCamera(LyingCameraSettings settings);
    ~LyingCamera();
    LyingCamera(const LyingCamera&) = delete;
    LyingCamera& operator=(const LyingCamera&) = delete;

    const std::wstring& Path() const { return settings_->path; }
    const LyingCameraLog& Log() const { return *log_; }

  private:
    std::shared_ptr<LyingCameraSettings> settings_;
    std::shared_ptr<LyingCameraLog> log_ = std::make_shared<LyingCameraLog>();
    zrf::dshow::VideoInputDevices::Id id_;
};

// A media type with a format block of the given type and size, holding a video information
// header with these values as far as the block reaches.
zrf::dshow::MediaType OfferedType(const GUID& subtype, LONG width, LONG height,
                                  REFERENCE_TIME interval = 333333,
                                  const GUID& format_type = FORMAT_VideoInfo,
                                  ULONG format_size = sizeof(VIDEOINFOHEADER));

}  // namespace CaptureTest
