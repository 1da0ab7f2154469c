#include "host/config/switch_configuration.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "host/config/switch_settings_format.h"
#include "host/logging/logger.h"
#include "host/system/regular_file.h"

namespace System::Configuration {
namespace {

struct Store {
    std::mutex mutex;
    bool loaded = false;
    SwitchSettings fromFile;
    SwitchSettings fromEnvironment;
    SwitchSettings overrides;
    std::atomic<std::uint64_t> generation{1};
};

Store& TheStore() {
    static Store store;
    return store;
}

void Report(const std::vector<std::string>& problems) {
    for (const auto& problem : problems) {
        Vorn::Zephra::Diagnostics::Log::Logger::TraceError("Switch configuration: " + problem);
    }
}

// Reads both sources; returns the problems to report once the lock is released.
std::vector<std::string> LoadLocked(Store& store) {
    std::vector<std::string> problems;
    store.fromFile.clear();
    store.fromEnvironment.clear();
    if (const char* path = std::getenv(SwitchConfiguration::kFileVariable); path && *path) {
        try {
            const auto bytes = System::IO::ReadRegularFile(path, SwitchConfiguration::kMaxFileBytes);
            auto parsed = ParseConfigurationFile(std::string(bytes.begin(), bytes.end()));
            store.fromFile = std::move(parsed.settings);
            for (auto& p : parsed.problems)
                problems.push_back("file '" + std::string(path) + "' " + p);
        } catch (const System::IO::FileReadException& e) {
            problems.push_back(e.Message());
        }
    }
    if (const char* list = std::getenv(SwitchConfiguration::kListVariable)) {
        auto parsed = ParseSwitchList(list);
        store.fromEnvironment = std::move(parsed.settings);
        for (auto& p : parsed.problems) {
            problems.push_back(std::string(SwitchConfiguration::kListVariable) + " " + p);
        }
    }
    store.loaded = true;
    store.generation.fetch_add(1, std::memory_order_release);
    return problems;
}

// Runs `action` under the lock after making sure the sources have been read.
template <typename Action>
auto WithLoadedStore(Action action) {
    Store& store = TheStore();
    std::vector<std::string> problems;
    std::unique_lock lock(store.mutex);
    if (!store.loaded) problems = LoadLocked(store);
    auto result = action(store);
    lock.unlock();
    Report(problems);
    return result;
}

std::optional<std::string> FindIn(const SwitchSettings& settings, std::string_view name) {
    const auto it = settings.find(name);
    if (it == settings.end()) return std::nullopt;
    return it->second;
}

}  // namespace

SwitchConfiguration::Lookup SwitchConfiguration::Find(std::string_view name) {
    return WithLoadedStore([name](Store& store) {
        auto value = FindIn(store.overrides, name);
        if (!value) value = FindIn(store.fromEnvironment, name);
        if (!value) value = FindIn(store.fromFile, name);
        return Lookup{store.generation.load(std::memory_order_relaxed), std::move(value)};
    });
}

std::optional<std::string> SwitchConfiguration::Get(std::string_view name) {
    return Find(name).value;
}

std::uint64_t SwitchConfiguration::Generation() {
    return TheStore().generation.load(std::memory_order_acquire);
}

void SwitchConfiguration::Reload() {
    Store& store = TheStore();
    std::unique_lock lock(store.mutex);
    auto problems = LoadLocked(store);
    lock.unlock();
    Report(problems);
}

void SwitchConfiguration::SetOverride(std::string_view name, std::string_view value) {
    Store& store = TheStore();
    std::lock_guard lock(store.mutex);
    store.overrides.insert_or_assign(std::string(name), std::string(value));
    store.generation.fetch_add(1, std::memory_order_release);
}

void SwitchConfiguration::RemoveOverride(std::string_view name) {
    Store& store = TheStore();
    std::lock_guard lock(store.mutex);
    const auto it = store.overrides.find(name);
    if (it == store.overrides.end()) return;
    store.overrides.erase(it);
    store.generation.fetch_add(1, std::memory_order_release);
}

std::optional<std::string> SwitchConfiguration::Override(std::string_view name) {
    Store& store = TheStore();
    std::lock_guard lock(store.mutex);
    return FindIn(store.overrides, name);
}

ScopedSwitchOverride::ScopedSwitchOverride(std::string_view name, std::string_view value)
    : name_(name), previous_(SwitchConfiguration::Override(name)) {
    SwitchConfiguration::SetOverride(name_, value);
}

ScopedSwitchOverride::~ScopedSwitchOverride() {
    if (previous_) {
        SwitchConfiguration::SetOverride(name_, *previous_);
    } else {
        SwitchConfiguration::RemoveOverride(name_);
    }
}

}  // namespace System::Configuration
