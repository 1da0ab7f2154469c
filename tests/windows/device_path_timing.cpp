// The device path's cost per image, as the application meets it: the plug-in loaded by path, a
// simulated camera streaming as fast as it can, an empty Completed handler that only counts.
// The same program in both builds, so the Windows build under Wine is set against the Linux
// build on one machine. The time is the process's CPU time per image over every round (each
// round's is printed too); the last line is "device_path_ns_per_image: N". Wine counts a
// process's CPU time in 10 ms ticks: a round of a few hundred images lasts two or three of
// them, and its figure lands on one tick or the next; over a second of rounds the ticks at the
// two ends are about 1 %.
//
// Usage: device_path_timing [CAMERA [ROUNDS [IMAGES]]]   (default usb-ir 5 3000)
#ifdef _WIN32
#include <objbase.h>
#include <windows.h>
#else
#include <time.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "host/devices/device_interfaces.h"
#include "host/loader/plugin_loader.h"
#include "sim/handle/simulated_camera_handle.h"

namespace {

using namespace Vorn::Zephra::Net::Devices;
using Vorn::Zephra::Simulation::SimulatedCameraHandle;

double ProcessCpuSeconds() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) * 1e-7;
#else
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
#endif
}

bool WaitFor(const std::atomic<long>& delivered, long count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (delivered.load(std::memory_order_relaxed) < count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

int Run(const std::string& cameraName, int rounds, long images) {
    Vorn::Zephra::Simulation::SimulatedCameraOptions options;
    options.asFastAsPossible = true;
    auto camera = SimulatedCameraHandle::Start(cameraName, options);
    auto identity = camera->Identity();
    LoadedPlugin plugin = PluginLoader::Load(PluginLoader::DefaultPluginPath());
    std::shared_ptr<IDevice> device = plugin.CreateDevice(identity.Identifier());
    auto& grab = dynamic_cast<IGrabContinous&>(*device);
    std::atomic<long> delivered{0};
    grab.Completed().Subscribe([&delivered](const void*, const GrabContinousCompletedEventArgs&) {
        delivered.fetch_add(1, std::memory_order_relaxed);
    });
    device->Device_Connect(identity.XMLData());
    grab.GrabContinous_Start();
    // The first images settle buffers and caches.
    if (!WaitFor(delivered, 50)) {
        std::fprintf(stderr, "device_path_timing: the camera delivers no images\n");
        return 1;
    }
    std::vector<double> perImage;
    const long first = delivered.load();
    const double began = ProcessCpuSeconds();
    for (int round = 0; round < rounds; ++round) {
        const long before = delivered.load();
        const double start = ProcessCpuSeconds();
        if (!WaitFor(delivered, before + images)) return 1;
        const double cpu = ProcessCpuSeconds() - start;
        perImage.push_back(cpu / static_cast<double>(delivered.load() - before));
    }
    const double total = (ProcessCpuSeconds() - began) / static_cast<double>(delivered.load() - first);
    grab.GrabContinous_Stop();
    device->Dispose();
    for (const double t : perImage) std::printf("round: %.0f ns per image\n", t * 1e9);
    std::printf("device_path_ns_per_image: %.0f\n", total * 1e9);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The application's runtime has COM ready on its threads; the capture graph needs it.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
#endif
    const std::string camera = argc > 1 ? argv[1] : "usb-ir";
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const long images = argc > 3 ? std::max(10L, std::atol(argv[3])) : 3000;
    try {
        return Run(camera, rounds, images);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "device_path_timing: %s\n", e.what());
        return 1;
    }
}
