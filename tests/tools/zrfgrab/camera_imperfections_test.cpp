// zrfgrab's --drift, --jitter, --stall and --glitch take exactly what the cameras take: a value
// taken there is never refused by the camera (a failure after the start), and a refused one is
// a usage error naming the option.
#include <gtest/gtest.h>

#include <string>

#include "sim/cameras/camera_presets.h"
#include "sim/cameras/preset_changes.h"
#include "tools/zrfgrab/arguments.h"
#include "tools/zrfgrab/camera_imperfections.h"

namespace zrfgrab {
namespace {

TEST(CameraImperfectionOptions, TakeWhatTheCamerasTake) {
    struct Case {
        const char* option;
        const char* value;
    };
    const Case cases[] = {
        {"--drift", "+50"},      {"--drift", "-20"},
        {"--drift", "20000"},    {"--drift", "500000"},
        {"--drift", "500001"},   {"--drift", "+-5"},
        {"--drift", "1e-400"},   {"--drift", "1e-320"},
        {"--drift", "nan"},      {"--drift", "inf"},
        {"--drift", " 5"},       {"--drift", "5 "},
        {"--drift", ""},         {"--jitter", "3"},
        {"--jitter", "0"},       {"--jitter", "-1"},
        {"--jitter", "10000.5"}, {"--jitter", "1e-400"},
        {"--stall", "250/60"},   {"--stall", "250"},
        {"--stall", "0/0.0001"}, {"--stall", "20000000/100000"},
        {"--stall", "999/1"},    {"--stall", "1000/1"},
        {"--stall", "250/60/1"}, {"--stall", "0.5/0.25"},
        {"--stall", "0/60"},     {"--stall", "1/0.0015"},
        {"--stall", "/60"},      {"--glitch", "5000"},
        {"--glitch", "0"},       {"--glitch", "2.5"},
        {"--glitch", "-5"},      {"--glitch", "4000000001"},
    };
    for (const Case& c : cases) {
        CameraImperfections options;
        bool taken = true;
        try {
            options.Read(c.option, c.value);
        } catch (const UsageError& e) {
            taken = false;
            EXPECT_NE(std::string(e.what()).find(c.option), std::string::npos)
                << c.option << " " << c.value;
        }
        zrf::sim::CameraPreset preset = *zrf::sim::FindCameraPreset("usb-ir");
        std::string why;
        const std::string key = std::string(c.option).substr(2);
        const bool camera = zrf::sim::ApplyPresetChanges(key + "=" + c.value, preset, why);
        // --glitch 0 (none) is the cameras' default, not an option worth giving.
        if (std::string(c.option) == "--glitch" && std::string(c.value) == "0") {
            EXPECT_FALSE(taken);
            continue;
        }
        EXPECT_EQ(taken, camera) << c.option << " " << c.value;
        if (taken) {
            EXPECT_TRUE(zrf::sim::ApplyPresetChanges(options.Changes(), preset, why))
                << options.Changes();
        }
    }
}

}  // namespace
}  // namespace zrfgrab
