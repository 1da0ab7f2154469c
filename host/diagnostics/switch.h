#pragma once
// A named diagnostic switch whose setting comes from the host application's configuration
// (host/config). A switch that is not configured is off (setting 0). The setting is read on
// first use and again whenever the configuration changes; an invalid setting counts as off
// and is reported through Logger::TraceError.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace System::Diagnostics {

class Switch {
  public:
    Switch(std::string displayName, std::string description);
    virtual ~Switch() = default;
    Switch(const Switch&) = delete;
    Switch& operator=(const Switch&) = delete;

    const std::string& DisplayName() const noexcept { return displayName_; }
    const std::string& Description() const noexcept { return description_; }
    // The configured text; empty when the switch is not configured.
    std::string Value() const;

  protected:
    // The current setting; 0 means off.
    int SwitchSetting() const;
    // Turns a configured text into a setting, or nothing when the text is not valid.
    virtual std::optional<int> ParseSetting(std::string_view value) const;

    static std::optional<int> ParseInteger(std::string_view value);
    static bool EqualsIgnoreCase(std::string_view a, std::string_view b);

  private:
    int ReadSetting(std::uint32_t& generation) const;

    std::string displayName_;
    std::string description_;
    // Low 32 bits of the configuration generation the setting was read at (high half) and
    // the setting (low half), in one word so readers never see a torn pair.
    mutable std::atomic<std::uint64_t> cache_{0};
};

}  // namespace System::Diagnostics
