#pragma once
// The options of zrfgrab grab (and replay and the main job), read and checked before any
// streaming: a bad option costs nothing, and leaves no recording behind.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/zrfgrab/camera_imperfections.h"

namespace zrfgrab {

struct GrabOptions {
    // Each --camera is one camera of the grab, streamed and recorded side by side with the
    // others; a preset named again is another camera of its kind.
    std::vector<std::string> cameras = {"usb-ir"};
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
    CameraImperfections imperfections;  // of every simulated camera of the run
    std::string plugin;
};

// Reads argv[1..] (argv[0] is the subcommand's name); throws UsageError for a bad option, a
// bad combination, an unknown camera or palette, or a --record or --png path that cannot be
// written.
GrabOptions ParseGrabOptions(int argc, char** argv);

// Where a camera of a several-camera grab writes: FILE.zrec gives FILE-1.zrec, FILE-2.zrec, ...
// (the camera's place on the command line); a folder stays the folder, where each camera's
// recording gets a number of its own.
std::string PathForCamera(const std::string& path, std::size_t index, std::size_t cameras);

// Which camera of its kind cameras[index] is: 0 for the preset's own, n for its n-th further
// one (a preset named again on the command line).
int CameraInstance(const std::vector<std::string>& cameras, std::size_t index);
// The camera as summaries name it: "usb-ir", then "usb-ir#2", "usb-ir#3" for further ones.
std::string CameraLabel(const std::string& camera, int instance);

// Throws UsageError unless name is one of the simulated cameras.
void CheckCameraName(const std::string& name);

// The rate index that switches an IEEE-1394 camera's windowing on (2 or 4 fields): such a
// camera lists it as two more rates, 60 and 120, after its own. -1 for a camera without it.
int WindowingRateIndex(const std::string& identifier, const std::vector<double>& rates,
                       int windowing);

// Throws UsageError unless the paths the grab writes to can be written.
void CheckGrabOutputs(const GrabOptions& options);

}  // namespace zrfgrab
