#include "host/resources/embedded_resource.h"

#include <dlfcn.h>

#include <algorithm>
#include <mutex>

namespace Vorn::Resources {
namespace {

struct Entry {
    std::string module;
    std::string name;
    const unsigned char* data;
    std::size_t size;
};

std::mutex& RegistryMutex() {
    static std::mutex m;
    return m;
}

std::vector<Entry>& Registry() {
    static std::vector<Entry> entries;
    return entries;
}

}  // namespace

std::string ModulePathOf(const void* anchor) {
    Dl_info info{};
    if (dladdr(anchor, &info) == 0 || info.dli_fname == nullptr) return {};
    return info.dli_fname;
}

EmbeddedResourceRegistration::EmbeddedResourceRegistration(const char* name,
                                                           const unsigned char* data,
                                                           std::size_t size) {
    std::lock_guard lock(RegistryMutex());
    Registry().push_back({ModulePathOf(data), name, data, size});
}

EmbeddedResourceRegistration::~EmbeddedResourceRegistration() {
    // The library is being unloaded: forget every set whose bytes live in it.
    std::lock_guard lock(RegistryMutex());
    auto& r = Registry();
    r.erase(std::remove_if(r.begin(), r.end(),
                           [this](const Entry& e) {
                               return e.module == ModulePathOf(this);
                           }),
            r.end());
}

std::vector<EmbeddedResource> ResourcesOfModuleContaining(const void* anchor) {
    const std::string module = ModulePathOf(anchor);
    std::vector<EmbeddedResource> out;
    std::lock_guard lock(RegistryMutex());
    for (const Entry& e : Registry())
        if (e.module == module)
            out.push_back({e.module, e.name,
                           std::string(reinterpret_cast<const char*>(e.data), e.size)});
    return out;
}

}  // namespace Vorn::Resources
