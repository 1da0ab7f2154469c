#pragma once
// What the benchmarks that compare a path with its baseline share: a thread's CPU clock, the
// median, and turns in which the two alternate going first, so both meet the same state of the
// machine (caches, the processor's pace, the page cache); and page-aligned buffers, so a
// baseline's copy is not slowed by where its buffers happen to lie.
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace BenchTurns {

inline double ClockSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

inline double Median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One turn of each; `turn` counts the turns, and which goes first follows it. Returns what each
// returned (its time), `first`'s first.
template <class First, class Second>
std::pair<double, double> TakeTurns(long& turn, First first, Second second) {
    if (++turn % 2 == 0) {
        const double a = first();
        return {a, second()};
    }
    const double b = second();
    return {first(), b};
}

// `bytes` starting on a page, filled with `fill`; empty (null data) when memory ran out.
class PageBuffer {
  public:
    PageBuffer(std::size_t bytes, std::uint8_t fill)
        : bytes_(bytes),
          data_(static_cast<std::uint8_t*>(std::aligned_alloc(4096, (bytes + 4095) / 4096 * 4096))) {
        if (data_) std::memset(data_.get(), fill, bytes);
    }
    std::uint8_t* data() const { return data_.get(); }
    std::size_t size() const { return bytes_; }

  private:
    struct Free {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };
    std::size_t bytes_;
    std::unique_ptr<std::uint8_t, Free> data_;
};

}  // namespace BenchTurns
