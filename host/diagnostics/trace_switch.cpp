#include "host/diagnostics/trace_switch.h"

#include <algorithm>
#include <array>

namespace System::Diagnostics {

std::optional<int> TraceSwitch::ParseSetting(std::string_view value) const {
    static constexpr std::array<std::string_view, 5> kNames{"Off", "Error", "Warning", "Info",
                                                            "Verbose"};
    for (std::size_t level = 0; level < kNames.size(); ++level) {
        if (EqualsIgnoreCase(value, kNames[level])) return static_cast<int>(level);
    }
    if (const auto number = ParseInteger(value)) {
        return std::clamp(*number, static_cast<int>(TraceLevel::Off),
                          static_cast<int>(TraceLevel::Verbose));
    }
    return std::nullopt;
}

}  // namespace System::Diagnostics
