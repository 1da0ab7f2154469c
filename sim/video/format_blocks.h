#pragma once
// Media types and stream capabilities built from a device's formats.
#include <vector>

#include "sim/video/video_device_settings.h"

namespace zrf::sim {

DWORD ImageSizeOf(const VideoFormat& format);
// The format's media type, with the given frame interval (0: the format's default).
dshow::MediaType MediaTypeFor(const VideoFormat& format, REFERENCE_TIME interval = 0);
VIDEO_STREAM_CONFIG_CAPS CapsFor(const VideoFormat& format);
// The offered format a requested type names (subtype and size), or null.
const VideoFormat* FindFormat(const std::vector<VideoFormat>& formats, const AM_MEDIA_TYPE& type);
// The supported interval nearest to the requested one; the default for 0 or less.
REFERENCE_TIME NearestInterval(const VideoFormat& format, REFERENCE_TIME requested);

}  // namespace zrf::sim
