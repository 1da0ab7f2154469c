#pragma once
// A levelled switch. Its setting is a level name (any case) or its number; numbers above
// Verbose count as Verbose, negative numbers as Off.
#include "host/diagnostics/switch.h"

namespace System::Diagnostics {

enum class TraceLevel { Off = 0, Error = 1, Warning = 2, Info = 3, Verbose = 4 };

class TraceSwitch : public Switch {
  public:
    using Switch::Switch;

    TraceLevel Level() const { return static_cast<TraceLevel>(SwitchSetting()); }
    bool TraceError() const { return Level() >= TraceLevel::Error; }
    bool TraceWarning() const { return Level() >= TraceLevel::Warning; }
    bool TraceInfo() const { return Level() >= TraceLevel::Info; }
    bool TraceVerbose() const { return Level() >= TraceLevel::Verbose; }

  protected:
    std::optional<int> ParseSetting(std::string_view value) const override;
};

}  // namespace System::Diagnostics
