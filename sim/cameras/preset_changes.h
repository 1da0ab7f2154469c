#pragma once
// Changes to a camera preset as text, "key=value;key=value": how a test asks for a camera that
// misbehaves or lists other rates, the same way in both builds (on Windows the camera runs
// inside the filter DLL, which takes the text and applies it there).
//
// Keys: rates (the video-control frame intervals, 100-ns units, comma-separated; empty: none
// listed), format-rates (every format's intervals), format-size ("WxH": every format's size), without-formats (four-character codes),
// password, tula (the family whose range changes restart the stream), focus-type, focus-supported, focus-queries-fail, ranges ("min:max,..."; empty:
// none), truncate-samples, withhold-buffers, disappear-after, return-after-disappearing,
// fail-run (an HRESULT), no-device-path; and how imperfect the camera is (CameraImperfections):
// drift (ppm, signed: "+50", "-20"), jitter (ms), stall ("MS/SECONDS": a stall of MS every
// SECONDS), glitch (one sample in N). Booleans are 0 or 1.
#include <string>
#include <string_view>

#include "sim/cameras/camera_presets.h"

namespace zrf::sim {

// Applies the changes; false, with why, for a key or value it does not know (nothing changed).
bool ApplyPresetChanges(std::string_view changes, CameraPreset& preset, std::string& why);

}  // namespace zrf::sim
