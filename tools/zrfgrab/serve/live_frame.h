#pragma once
// A frame as the live view serves it: its counts (for readouts), its false-colour JPEG and a
// JSON summary built once for every client. Frames come from a FramePool and go back to it when
// the last reference goes: a frame of a size seen before costs no allocation.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/smart_ptr/intrusive_ptr.hpp>

#include "tools/picture/count_range.h"
#include "tools/zrfgrab/serve/readout.h"

namespace zrfgrab::serve {

class FramePool;

struct LiveFrame {
    std::uint64_t number = 0;  // delivered frames of the camera, counted from 1
    int width = 0;
    int height = 0;
    std::vector<std::uint16_t> counts;
    RegionStats stats;
    Vorn::Picture::CountRange range;  // the colours' range
    std::vector<std::uint8_t> jpeg;   // empty when nobody watched as it was made
    std::string summary;              // JSON members (no braces) every client gets

    CountsView View() const { return {width, height, counts}; }

  private:
    friend class FramePool;
    friend void intrusive_ptr_add_ref(LiveFrame* frame);
    friend void intrusive_ptr_release(LiveFrame* frame);
    std::atomic<int> references_{0};
    FramePool* pool_ = nullptr;
};

// Shared by the encoder and the sessions that send it; read-only once published.
using FrameRef = boost::intrusive_ptr<LiveFrame>;
using ConstFrameRef = boost::intrusive_ptr<const LiveFrame>;

void intrusive_ptr_add_ref(LiveFrame* frame);
void intrusive_ptr_release(LiveFrame* frame);
inline void intrusive_ptr_add_ref(const LiveFrame* frame) { intrusive_ptr_add_ref(const_cast<LiveFrame*>(frame)); }
inline void intrusive_ptr_release(const LiveFrame* frame) { intrusive_ptr_release(const_cast<LiveFrame*>(frame)); }

// At most `capacity` frames exist at once. Everything that holds frames (the server's
// sessions) must let them go before the pool is destroyed.
class FramePool {
  public:
    explicit FramePool(std::size_t capacity);
    ~FramePool();
    FramePool(const FramePool&) = delete;
    FramePool& operator=(const FramePool&) = delete;

    // A frame nobody holds, or null when all `capacity` frames are held.
    FrameRef Acquire();
    std::size_t Allocated() const;
    std::size_t Capacity() const { return capacity_; }

  private:
    friend void intrusive_ptr_release(LiveFrame* frame);
    void Return(LiveFrame* frame);

    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<LiveFrame>> all_;  // guarded by mutex_
    std::vector<LiveFrame*> free_;                 // guarded by mutex_
};

}  // namespace zrfgrab::serve
