#pragma once
// Everything that describes one simulated video-input device: identity, offered formats,
// controls below the graph, pacing, and the switches that make it misbehave.
#include <cstdint>
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

class SimulatedTime;

// How a real camera departs from a perfect one. Each is counted as it is injected (the device's
// truth), so tests can compare what the plug-in reports with what happened.
struct CameraImperfections {
    // The sensor keeps time on a crystal of its own: its true rate is the programmed one times
    // 1 + ppm / 10^6 (positive: fast). The rate it reports stays the programmed one.
    double clock_ppm = 0.0;
    // Each sample reaches the host late by a random 0 .. jitter_ms (at most nine tenths of a
    // period); the sensor's rhythm is kept.
    double jitter_ms = 0.0;
    // The transport takes nothing for stall_ms every stall_every_ms of the host's time (on the
    // pacing clock, whoever streams); the frames that fall due meanwhile are dropped, as a driver
    // drops them.
    std::int64_t stall_ms = 0;
    std::int64_t stall_every_ms = 0;
    // One sample in this many (at random) is cut short or damaged in a byte the receiver checks;
    // 0: none. A format in which nothing is checked (MJPG) is never glitched.
    std::uint32_t glitch_every = 0;
    std::uint32_t seed = 1;
};

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
    // Real-time pacing on this clock instead of the host's (a test's simulated time; not owned,
    // outlives the device): the camera moves it on to each frame's time.
    SimulatedTime* time = nullptr;
    CameraImperfections imperfections;
    LONG dropped_frames = 0;

    // Misbehaviour.
    bool should_omit_device_path = false;           // property bag without "DevicePath"
    bool should_omit_dropped_frames = false;        // capture pin without IAMDroppedFrames
    HRESULT should_fail_pause_with = S_OK;          // leaving stopped: a driver that cannot acquire
    HRESULT should_fail_run_with = S_OK;            // e.g. 0x800705AA, already in use
    LONG should_truncate_samples_to = -1;           // valid length cut to this many bytes
    bool should_withhold_sample_buffers = false;    // GetPointer fails on every sample
    bool should_stamp_by_frame_count = false;       // times from 0 by frames, ahead of any clock
    long should_disappear_after_frames = -1;        // unplugged while streaming (each run)
    bool should_return_after_disappearing = false;  // plugged in again once its stream ends
};

}  // namespace zrf::sim
