#pragma once
// The host application's configuration of named diagnostic switches, process-wide.
//
// Sources, later ones winning for the same name:
//   1. the configuration file named by the environment variable ZRF_CONFIG;
//   2. the environment variable ZRF_SWITCHES ("name=value;name=value");
//   3. overrides set in-process (tests), see ScopedSwitchOverride.
// The formats are described in switch_settings_format.h. Both sources are read on first use
// and again on Reload(); malformed lines and an unreadable file are reported once per read
// through Logger::TraceError and otherwise ignored.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace System::Configuration {

class SwitchConfiguration {
  public:
    static constexpr const char* kFileVariable = "ZRF_CONFIG";
    // A configuration file is a few lines; anything larger is refused unread.
    static constexpr std::uint64_t kMaxFileBytes = 1u << 20;
    static constexpr const char* kListVariable = "ZRF_SWITCHES";

    struct Lookup {
        std::uint64_t generation;
        std::optional<std::string> value;  // empty when the name is not configured
    };

    SwitchConfiguration() = delete;

    static std::optional<std::string> Get(std::string_view name);
    // The setting together with the generation it belongs to, read under one lock.
    static Lookup Find(std::string_view name);
    // Changes whenever any setting may have changed, so readers can cache settings.
    static std::uint64_t Generation();

    // Rereads the file and the environment (overrides stay).
    static void Reload();

    static void SetOverride(std::string_view name, std::string_view value);
    static void RemoveOverride(std::string_view name);
    static std::optional<std::string> Override(std::string_view name);
};

// Sets one override while it lives and puts back whatever override was there before.
class ScopedSwitchOverride {
  public:
    ScopedSwitchOverride(std::string_view name, std::string_view value);
    ~ScopedSwitchOverride();
    ScopedSwitchOverride(const ScopedSwitchOverride&) = delete;
    ScopedSwitchOverride& operator=(const ScopedSwitchOverride&) = delete;

  private:
    std::string name_;
    std::optional<std::string> previous_;
};

}  // namespace System::Configuration
