#include "tools/zrfgrab/camera_imperfections.h"

#include <cstdint>

#include "sim/cameras/imperfection_text.h"
#include "tools/zrfgrab/arguments.h"

namespace zrfgrab {

bool CameraImperfections::Takes(const std::string& option) {
    return option == "--drift" || option == "--jitter" || option == "--stall" ||
           option == "--glitch";
}

// Read as the cameras read them, so what is taken here is never refused there.
void CameraImperfections::Read(const std::string& option, const std::string& value) {
    double number = 0;
    std::int64_t ms = 0, every = 0;
    std::uint32_t glitch = 0;
    std::string key;
    if (option == "--drift") {
        if (!zrf::sim::ReadClockPpm(value, number))
            throw UsageError(
                "--drift takes the camera clock's offset in parts per million, from -500000 to "
                "+500000 (like +50 or -20), not '" +
                value + "'");
        key = "drift";
    } else if (option == "--jitter") {
        if (!zrf::sim::ReadJitterMs(value, number))
            throw UsageError("--jitter takes milliseconds from 0 to 10000, not '" + value + "'");
        key = "jitter";
    } else if (option == "--stall") {
        if (!zrf::sim::ReadStall(value, ms, every))
            throw UsageError(
                "--stall takes MS/SECONDS, a stall of MS whole milliseconds (1 to 10000000) every "
                "SECONDS seconds (0.001 to 1000000), shorter than its period (like 250/60), not '" +
                value + "'");
        key = "stall";
    } else if (option == "--glitch") {
        if (!zrf::sim::ReadGlitchEvery(value, glitch) || glitch == 0)
            throw UsageError("--glitch takes a whole number from 1 to 4000000000, not '" + value +
                             "'");
        key = "glitch";
    } else {
        return;
    }
    changes_ += (changes_.empty() ? "" : ";") + key + "=" + value;
}

}  // namespace zrfgrab
