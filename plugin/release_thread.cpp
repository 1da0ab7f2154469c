#include "plugin/release_thread.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "host/logging/logger.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

std::mutex runningMutex;
std::condition_variable runningChanged;
int running = 0;

void PinThisLibrary() {
    static std::atomic<bool> pinned{false};
    if (pinned.exchange(true)) return;
#ifdef _WIN32
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&PinThisLibrary), &self);
#else
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&PinThisLibrary), &info) != 0 && info.dli_fname != nullptr)
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
#endif
}

}  // namespace

void ReleaseOnOwnThread(std::function<void()> release) {
    PinThisLibrary();
    {
        std::lock_guard lock(runningMutex);
        ++running;
    }
    std::thread([release = std::move(release)]() mutable {
        try {
            release();
        } catch (...) {
            Diagnostics::Log::Logger::TraceError("A device's release on its own thread failed");
        }
        // What it held goes before it counts as finished: a waiter may take the camera back.
        release = nullptr;
        std::lock_guard lock(runningMutex);
        --running;
        runningChanged.notify_all();
    }).detach();
}

PendingRelease::PendingRelease() {
    std::lock_guard lock(runningMutex);
    ++running;
}

PendingRelease::~PendingRelease() {
    std::lock_guard lock(runningMutex);
    --running;
    runningChanged.notify_all();
}

int ReleasesRunning() {
    std::lock_guard lock(runningMutex);
    return running;
}

void WaitForReleases() {
    std::unique_lock lock(runningMutex);
    runningChanged.wait(lock, [] { return running == 0; });
}

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
