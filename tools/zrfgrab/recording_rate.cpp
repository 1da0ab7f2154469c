#include "tools/zrfgrab/recording_rate.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace zrfgrab {
namespace {

constexpr double kTicksPerSecond = 1e7;

// The time between two frames, as a double: any two 64-bit stamps, no overflow.
double Step(const StampedFrame& a, const StampedFrame& b) {
    return static_cast<double>(b.ticks) - static_cast<double>(a.ticks);
}

bool Consecutive(const StampedFrame& a, const StampedFrame& b) {
    return a.number != std::numeric_limits<std::uint64_t>::max() && b.number == a.number + 1;
}

// The camera's period as the frames show it: the mean of the steps between consecutively
// numbered frames that lie within half of their median either way. None without such steps.
std::optional<double> TypicalPeriod(std::span<const StampedFrame> frames) {
    std::vector<double> steps;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        const double step = Step(frames[i - 1], frames[i]);
        if (step > 0 && Consecutive(frames[i - 1], frames[i])) steps.push_back(step);
    }
    if (steps.empty()) return std::nullopt;
    auto middle = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
    std::nth_element(steps.begin(), middle, steps.end());
    const double median = *middle;
    double sum = 0;
    std::size_t count = 0;
    for (double step : steps) {
        if (step < 0.5 * median || step > 1.5 * median) continue;
        sum += step;
        ++count;
    }
    return count > 0 ? std::optional(sum / static_cast<double>(count)) : std::nullopt;
}

// Whether the stamps keep one rhythm: nine in ten steps between consecutively numbered frames
// within half a period of it. Bursts (frames handed over in pairs) and a rate that changes do
// not, and then only the numbers can tell frames apart.
bool Regular(std::span<const StampedFrame> frames, double period) {
    std::size_t steps = 0, regular = 0;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        const double step = Step(frames[i - 1], frames[i]);
        if (!(step > 0) || !Consecutive(frames[i - 1], frames[i])) continue;
        ++steps;
        if (step >= 0.5 * period && step <= 1.5 * period) ++regular;
    }
    return steps > 0 && regular * 10 >= steps * 9;
}

}  // namespace

std::optional<double> CameraFrameRate(std::span<const StampedFrame> frames) {
    if (frames.size() < 2) return std::nullopt;
    std::optional<double> period = TypicalPeriod(frames);
    if (period && !Regular(frames, *period)) period.reset();
    // The least-squares line through (camera frame, time), so one frame delivered late (the
    // first, say, while the host warmed up) moves the rate by little. Times leave steps back out.
    double frame = 0, time = 0, meanFrame = 0, meanTime = 0, spreadFrame = 0, spreadBoth = 0;
    std::size_t n = 0;
    auto add = [&] {
        ++n;
        const double dFrame = frame - meanFrame, dTime = time - meanTime;
        meanFrame += dFrame / static_cast<double>(n);
        meanTime += dTime / static_cast<double>(n);
        spreadFrame += dFrame * (frame - meanFrame);
        spreadBoth += dFrame * (time - meanTime);
    };
    add();
    for (std::size_t i = 1; i < frames.size(); ++i) {
        const double step = Step(frames[i - 1], frames[i]);
        if (step <= 0) continue;
        const double numbered = frames[i].number > frames[i - 1].number
                                    ? static_cast<double>(frames[i].number - frames[i - 1].number)
                                    : 1.0;
        // With a regular period to go by, the time tells (a damaged or repeated number does
        // not); without one, the numbers.
        frame += period ? std::max(std::round(step / *period), 1.0) : numbered;
        time += step / kTicksPerSecond;
        add();
    }
    if (n < 2 || spreadFrame <= 0 || !(spreadBoth > 0) || !(time > 0)) return std::nullopt;
    // A regular rhythm: the line's slope, which one late frame moves little. Without one (the
    // rate changed, frames came in bursts), frames over the time they took.
    return period ? spreadFrame / spreadBoth : frame / time;
}

namespace {

// Saturating: a file's stamps may lie anywhere in 64 bits.
std::int64_t Saturate(__int128 value) {
    return static_cast<std::int64_t>(std::clamp<__int128>(
        value, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()));
}

}  // namespace

std::int64_t IncreasingTimes::Next(std::int64_t stamp) {
    std::int64_t at = Saturate(__int128{stamp} + shift_);
    if (any_ && at <= last_) {
        const std::int64_t to = Saturate(__int128{last_} + least_);
        shift_ = Saturate(__int128{shift_} + to - at);
        at = to;
        ++moved_;
    }
    any_ = true;
    last_ = at;
    return at;
}

}  // namespace zrfgrab
