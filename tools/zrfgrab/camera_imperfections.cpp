#include "tools/zrfgrab/camera_imperfections.h"

#include <cmath>
#include <cstdlib>

#include "tools/zrfgrab/arguments.h"

namespace zrfgrab {
namespace {

// A decimal written as a person would, sign allowed: "+50", "-20", "3", "0.5".
bool Decimal(const std::string& text, double& value) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

void Add(std::string& changes, const std::string& key, const std::string& value) {
    changes += (changes.empty() ? "" : ";") + key + "=" + value;
}

}  // namespace

bool CameraImperfections::Takes(const std::string& option) {
    return option == "--drift" || option == "--jitter" || option == "--stall" ||
           option == "--glitch";
}

void CameraImperfections::Read(const std::string& option, const std::string& value) {
    double number = 0;
    if (option == "--drift") {
        if (!Decimal(value, number) || std::abs(number) > 500000)
            throw UsageError(
                "--drift takes the camera clock's offset in parts per million, from -500000 to "
                "+500000 (like +50 or -20), not '" +
                value + "'");
        Add(changes_, "drift", value);
    } else if (option == "--jitter") {
        if (!Decimal(value, number) || number < 0 || number > 10000)
            throw UsageError("--jitter takes milliseconds from 0 to 10000, not '" + value + "'");
        Add(changes_, "jitter", value);
    } else if (option == "--stall") {
        const auto slash = value.find('/');
        double seconds = 0;
        if (slash == std::string::npos || !Decimal(value.substr(0, slash), number) ||
            !Decimal(value.substr(slash + 1), seconds) || number < 0 || seconds <= 0 ||
            seconds > 1e6 || number >= seconds * 1000)
            throw UsageError(
                "--stall takes MS/SECONDS, a stall of MS milliseconds every SECONDS seconds, "
                "shorter than its period (like 250/60), not '" +
                value + "'");
        Add(changes_, "stall", value);
    } else if (option == "--glitch") {
        Add(changes_, "glitch", std::to_string(ParseInteger(value, option, 1, 4'000'000'000LL)));
    }
}

}  // namespace zrfgrab
