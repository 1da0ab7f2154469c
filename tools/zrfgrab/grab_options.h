#pragma once
// The options of zrfgrab grab (and replay and the main job), read and checked before any
// streaming: a bad option costs nothing, and leaves no recording behind.
#include <cstdint>
#include <string>

namespace zrfgrab {

struct GrabOptions {
    std::string camera = "usb-ir";
    std::string replay;         // a recording to stream instead of a camera preset
    std::string identityFile;   // an identity document instead of a simulated camera
    std::string identifier;     // overrides the camera's
    std::string format = "IR";  // IR, YUY2 or JPEG_PLAIN
    std::uint64_t frames = 300;
    double seconds = 0;         // > 0: stream this long instead of a frame count
    int rateIndex = -1;
    int windowing = 0;
    std::string record;
    std::string png;            // where the picture goes (.jpg for JPEG_PLAIN)
    std::string palette = "iron";
    int preRecord = 0;
    bool fast = false;
    bool quiet = false;
    bool json = false;
    std::uint32_t seed = 1;
    std::string plugin;
};

// Reads argv[1..] (argv[0] is the subcommand's name); throws UsageError for a bad option, a
// bad combination, an unknown camera or palette, or a --record or --png path that cannot be
// written.
GrabOptions ParseGrabOptions(int argc, char** argv);

// Throws UsageError unless name is one of the simulated cameras.
void CheckCameraName(const std::string& name);

// Throws UsageError unless the paths the grab writes to can be written.
void CheckGrabOutputs(const GrabOptions& options);

}  // namespace zrfgrab
