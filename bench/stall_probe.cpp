// How long the machine held up a thread that asks for the processor every few milliseconds and
// does nothing else: run beside the several-camera runs, it tells frames lost while every thread
// was held up (a virtual machine's host taking its processors, the kernel) from frames the
// cameras' own threads lost. Prints "longest_ms X held_over_frame N": its longest wait past its
// time, and how often that was a frame interval (1/30 s) or more.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    const double seconds = argc == 2 ? std::atof(argv[1]) : 0;
    if (!(seconds > 0 && seconds <= 3600)) {
        std::fprintf(stderr, "usage: stall_probe SECONDS (more than 0, at most 3600)\n");
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    using Ms = std::chrono::duration<double, std::milli>;
    constexpr auto kStep = std::chrono::milliseconds(5);
    constexpr double kFrameMs = 1000.0 / 30;
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(seconds));
    double longest = 0;
    long overFrame = 0;
    for (auto before = Clock::now(); before < end;) {
        std::this_thread::sleep_for(kStep);
        const auto now = Clock::now();
        const double late = Ms(now - before - kStep).count();
        if (late > longest) longest = late;
        if (late >= kFrameMs) ++overFrame;
        before = now;
    }
    std::printf("longest_ms %.1f held_over_frame %ld\n", longest, overFrame);
    return 0;
}
