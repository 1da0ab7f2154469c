#pragma once
// In-process object creation by class identifier. Classes live in a process-wide registry;
// the stand-in's own filters register themselves, and tests remove or replace classes for
// the lifetime of a scope.
#include <functional>
#include <optional>

#include "platform/com/unknown.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv);
// Unloads nothing here; calls are counted so teardown order can be checked.
void CoFreeUnusedLibraries();
HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
void CoUninitialize();

namespace zrf::com {

// Creates an object of the class and returns the requested interface on it.
using ClassFactory = std::function<HRESULT(REFIID riid, void** ppv)>;

class ClassRegistry {
  public:
    static void Register(REFCLSID clsid, ClassFactory factory);
    static void Unregister(REFCLSID clsid);
    static std::optional<ClassFactory> Find(REFCLSID clsid);
    static long FreeUnusedLibrariesCalls();
};

// Replaces a class (or, with an empty factory, removes it) while the scope lives; the
// previous registration comes back afterwards.
class ScopedClassOverride {
  public:
    ScopedClassOverride(REFCLSID clsid, ClassFactory factory);
    ~ScopedClassOverride();
    ScopedClassOverride(const ScopedClassOverride&) = delete;
    ScopedClassOverride& operator=(const ScopedClassOverride&) = delete;

  private:
    CLSID clsid_;
    std::optional<ClassFactory> previous_;
};

// Registers a class at load time; used by the stand-in's built-in classes.
struct ClassRegistration {
    ClassRegistration(REFCLSID clsid, ClassFactory factory) {
        ClassRegistry::Register(clsid, std::move(factory));
    }
};

}  // namespace zrf::com
