#include "platform/com/class_registry.h"

#include <atomic>
#include <mutex>
#include <unordered_map>

namespace zrf::com {
namespace {

struct Registry {
    std::mutex mutex;
    std::unordered_map<GUID, ClassFactory, GuidHash> classes;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

std::atomic<long> g_free_unused_calls{0};

}  // namespace

// A factory let go of may hold the last reference to objects whose destruction takes locks of
// their own (a graph that creates objects under its lock): it goes outside the registry's.
void ClassRegistry::Register(REFCLSID clsid, ClassFactory factory) {
    Registry& r = TheRegistry();
    ClassFactory replaced;
    {
        std::lock_guard lock(r.mutex);
        ClassFactory& slot = r.classes[clsid];
        replaced = std::move(slot);
        slot = std::move(factory);
    }
}

void ClassRegistry::Unregister(REFCLSID clsid) {
    Registry& r = TheRegistry();
    ClassFactory removed;
    {
        std::lock_guard lock(r.mutex);
        auto it = r.classes.find(clsid);
        if (it == r.classes.end()) return;
        removed = std::move(it->second);
        r.classes.erase(it);
    }
}

std::optional<ClassFactory> ClassRegistry::Find(REFCLSID clsid) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    auto it = r.classes.find(clsid);
    if (it == r.classes.end()) return std::nullopt;
    return it->second;
}

long ClassRegistry::FreeUnusedLibrariesCalls() {
    return g_free_unused_calls.load();
}

ScopedClassOverride::ScopedClassOverride(REFCLSID clsid, ClassFactory factory)
    : clsid_(clsid), previous_(ClassRegistry::Find(clsid)) {
    if (factory) {
        ClassRegistry::Register(clsid, std::move(factory));
    } else {
        ClassRegistry::Unregister(clsid);
    }
}

ScopedClassOverride::~ScopedClassOverride() {
    if (previous_) {
        ClassRegistry::Register(clsid_, std::move(*previous_));
    } else {
        ClassRegistry::Unregister(clsid_);
    }
}

}  // namespace zrf::com

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
    if ((dwClsContext & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
    auto factory = zrf::com::ClassRegistry::Find(rclsid);
    if (!factory) return REGDB_E_CLASSNOTREG;
    return (*factory)(riid, ppv);
}

void CoFreeUnusedLibraries() {
    zrf::com::g_free_unused_calls.fetch_add(1);
}

HRESULT CoInitializeEx(LPVOID, DWORD) {
    return S_OK;
}
void CoUninitialize() {}
