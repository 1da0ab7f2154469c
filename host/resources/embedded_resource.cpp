#include "host/resources/embedded_resource.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <algorithm>
#include <mutex>

namespace Vorn::Resources {

#ifdef _WIN32
// A Windows library carries its resource sets as Win32 resources (RCDATA, named after the
// set); the build makes them so. The registrations below are then never made.
namespace {

HMODULE ModuleOf(const void* anchor) {
    HMODULE module = nullptr;
    const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                        GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    return GetModuleHandleExW(flags, static_cast<LPCWSTR>(anchor), &module) ? module : nullptr;
}

std::string Narrow(const wchar_t* text, int length = -1) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
    if (length < 0 && !out.empty()) out.pop_back();  // the terminator
    return out;
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
    // Resources numbered instead of named are no resource sets.
    if (!IS_INTRESOURCE(name)) reinterpret_cast<std::vector<std::wstring>*>(names)->push_back(name);
    return TRUE;
}

}  // namespace

std::string ModulePathOf(const void* anchor) {
    HMODULE module = ModuleOf(anchor);
    if (module == nullptr) return {};
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) return Narrow(path.c_str(), static_cast<int>(length));
        path.resize(path.size() * 2);
    }
}

EmbeddedResourceRegistration::EmbeddedResourceRegistration(const char*, const unsigned char*,
                                                           std::size_t) {}
EmbeddedResourceRegistration::~EmbeddedResourceRegistration() = default;

std::vector<EmbeddedResource> ResourcesOfModuleContaining(const void* anchor) {
    std::vector<EmbeddedResource> out;
    HMODULE module = ModuleOf(anchor);
    if (module == nullptr) return out;
    std::vector<std::wstring> names;
    EnumResourceNamesW(module, MAKEINTRESOURCEW(10) /* RT_RCDATA */, &CollectName,
                       reinterpret_cast<LONG_PTR>(&names));
    const std::string path = ModulePathOf(anchor);
    for (const std::wstring& name : names) {
        HRSRC found = FindResourceW(module, name.c_str(), MAKEINTRESOURCEW(10));
        HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
        const void* bytes = loaded ? LockResource(loaded) : nullptr;
        if (bytes == nullptr) continue;
        out.push_back({path, Narrow(name.c_str()),
                       std::string(static_cast<const char*>(bytes), SizeofResource(module, found))});
    }
    return out;
}

}  // namespace Vorn::Resources
#else
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
#endif
