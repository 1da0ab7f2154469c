#include "host/diagnostics/boolean_switch.h"

namespace System::Diagnostics {

std::optional<int> BooleanSwitch::ParseSetting(std::string_view value) const {
    if (EqualsIgnoreCase(value, "true") || EqualsIgnoreCase(value, "on")) return 1;
    if (EqualsIgnoreCase(value, "false") || EqualsIgnoreCase(value, "off")) return 0;
    if (const auto number = ParseInteger(value)) return *number != 0 ? 1 : 0;
    return std::nullopt;
}

}  // namespace System::Diagnostics
