#pragma once
// Releases what cannot be released on the thread that lets go of it: a capture graph can only
// be stopped from outside its own streaming thread.
#include <functional>

namespace Vorn::Zephra::Net::Devices::Camera::IR {

// Runs `release` on a thread of its own. The plug-in stays loaded from then on: a library cannot
// be unloaded safely while a thread of its own may still be running its code.
void ReleaseOnOwnThread(std::function<void()> release);

// Counts as a release while it lives: a disconnect or disposal a handler asked for lets go of
// its camera later, on the device's own thread, and a connect of any device waits for it as it
// waits for a release.
class PendingRelease {
  public:
    PendingRelease();
    ~PendingRelease();
    PendingRelease(const PendingRelease&) = delete;
    PendingRelease& operator=(const PendingRelease&) = delete;
};

// Releases started and not finished yet.
int ReleasesRunning();
// Waits until no release runs: a camera a released graph held is free again.
void WaitForReleases();

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
