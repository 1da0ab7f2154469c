#pragma once
// Everything that describes one simulated video-input device: identity, offered formats,
// controls below the graph, pacing, and the switches that make it misbehave.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/dshow/dshow.h"

namespace zrf::sim {

// One media type on the capture pin. The first interval is the default; the smallest and
// largest are the stream capabilities' limits.
struct VideoFormat {
    GUID subtype = GUID_NULL;
    LONG width = 0;
    LONG height = 0;
    WORD bit_count = 16;
    DWORD image_size = 0;  // 0: width x height x bit_count / 8
    std::vector<REFERENCE_TIME> frame_intervals = {333333};
    // For misbehaving drivers: another format type, or a shorter format block.
    GUID format_type = FORMAT_VideoInfo;
    ULONG format_size = sizeof(VIDEOINFOHEADER);
};

using ByteReply = std::function<std::vector<BYTE>(const BYTE* request, std::size_t length)>;

// The maker's property set on the capture pin.
struct MakerPropertySettings {
    DWORD info_word = 1;
    DWORD info_words[4] = {0, 0, 0, 0};
    std::string info_text;
    std::optional<DWORD> serial;  // absent: property 2 is not supported
    DWORD mode_value = 2;
    bool mode_writable = true;
    ByteReply raw_command;  // empty: the request comes back unchanged
};

// The vendor-specific unit and its 256-byte mailbox.
struct ExtensionUnitSettings {
    // Node types listed before the unit; GUID_NULL is a node whose type cannot be read.
    std::vector<GUID> nodes_before;
    // Reads after each write that answer with a reply that is not ready (all zero).
    int not_ready_reads = 2;
    ByteReply respond;  // empty: the request comes back with a nonzero first byte
};

struct TransportSettings {
    LONG initial_mode = ED_MODE_STOP;
};

enum class Pacing { RealTime, AsFastAsPossible };

struct VideoDeviceSettings {
    std::wstring device_path;
    std::wstring friendly_name;
    std::wstring display_name;  // empty: "@device:pnp:" followed by the device path
    std::vector<VideoFormat> formats;
    // Frame intervals listed by the video-control frame-rate property; empty: not offered.
    std::vector<REFERENCE_TIME> video_control_frame_intervals;
    std::optional<MakerPropertySettings> maker_properties;
    std::optional<ExtensionUnitSettings> extension_unit;
    std::optional<TransportSettings> transport;  // tape transport (IEEE-1394 devices)
    Pacing pacing = Pacing::RealTime;
    LONG dropped_frames = 0;

    // Misbehaviour.
    bool should_omit_device_path = false;         // property bag without "DevicePath"
    bool should_omit_dropped_frames = false;      // capture pin without IAMDroppedFrames
    HRESULT should_fail_pause_with = S_OK;        // leaving stopped: a driver that cannot acquire
    HRESULT should_fail_run_with = S_OK;          // e.g. 0x800705AA, already in use
    LONG should_truncate_samples_to = -1;         // valid length cut to this many bytes
    bool should_withhold_sample_buffers = false;  // GetPointer fails on every sample
    bool should_stamp_by_frame_count = false;     // times from 0 by frames, ahead of any clock
    long should_disappear_after_frames = -1;      // unplugged while streaming
};

}  // namespace zrf::sim
