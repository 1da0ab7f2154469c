#pragma once
// An on/off switch. Its setting is true/false, on/off (any case) or a number, where any
// number but 0 means on.
#include "host/diagnostics/switch.h"

namespace System::Diagnostics {

class BooleanSwitch : public Switch {
  public:
    using Switch::Switch;

    bool Enabled() const { return SwitchSetting() != 0; }

  protected:
    std::optional<int> ParseSetting(std::string_view value) const override;
};

}  // namespace System::Diagnostics
