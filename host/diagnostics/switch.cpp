#include "host/diagnostics/switch.h"

#include <cctype>
#include <charconv>

#include "host/config/switch_configuration.h"
#include "host/logging/logger.h"

namespace System::Diagnostics {
namespace {

using System::Configuration::SwitchConfiguration;

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return text;
}

std::uint64_t Pack(std::uint32_t generation, int setting) {
    return (std::uint64_t{generation} << 32) | static_cast<std::uint32_t>(setting);
}

}  // namespace

Switch::Switch(std::string displayName, std::string description)
    : displayName_(std::move(displayName)), description_(std::move(description)) {}

std::string Switch::Value() const {
    return SwitchConfiguration::Get(displayName_).value_or(std::string{});
}

int Switch::SwitchSetting() const {
    const auto current = static_cast<std::uint32_t>(SwitchConfiguration::Generation());
    const std::uint64_t cached = cache_.load(std::memory_order_acquire);
    if (static_cast<std::uint32_t>(cached >> 32) == current) {
        return static_cast<int>(static_cast<std::uint32_t>(cached));
    }
    std::uint32_t generation = 0;
    const int setting = ReadSetting(generation);
    cache_.store(Pack(generation, setting), std::memory_order_release);
    return setting;
}

int Switch::ReadSetting(std::uint32_t& generation) const {
    const auto lookup = SwitchConfiguration::Find(displayName_);
    generation = static_cast<std::uint32_t>(lookup.generation);
    if (!lookup.value) return 0;
    if (const auto setting = ParseSetting(Trim(*lookup.value))) return *setting;
    Vorn::Zephra::Diagnostics::Log::Logger::TraceError(
        "Switch '" + displayName_ + "': invalid setting '" + *lookup.value + "'; switch is off");
    return 0;
}

std::optional<int> Switch::ParseSetting(std::string_view value) const {
    return ParseInteger(value);
}

std::optional<int> Switch::ParseInteger(std::string_view value) {
    value = Trim(value);
    if (value.starts_with('+')) value.remove_prefix(1);
    int number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (value.empty() || error != std::errc{} || end != value.data() + value.size()) {
        return std::nullopt;
    }
    return number;
}

bool Switch::EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace System::Diagnostics
