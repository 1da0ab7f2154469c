#include "tools/zrfgrab/serve/live_frame.h"

#include <cstdlib>

namespace zrfgrab::serve {

void intrusive_ptr_add_ref(LiveFrame* frame) {
    frame->references_.fetch_add(1, std::memory_order_relaxed);
}

void intrusive_ptr_release(LiveFrame* frame) {
    // The last reader's reads happen before the pool hands the frame out again (the pool's lock).
    if (frame->references_.fetch_sub(1, std::memory_order_acq_rel) == 1) frame->pool_->Return(frame);
}

FramePool::FramePool(std::size_t capacity) : capacity_(capacity) {
    all_.reserve(capacity);
    free_.reserve(capacity);
}

FramePool::~FramePool() {
    // A frame still held would be read after it is freed: better to stop here than corrupt.
    std::lock_guard lock(mutex_);
    if (free_.size() != all_.size()) std::abort();
}

FrameRef FramePool::Acquire() {
    std::lock_guard lock(mutex_);
    if (free_.empty()) {
        if (all_.size() == capacity_) return nullptr;
        all_.push_back(std::make_unique<LiveFrame>());
        all_.back()->pool_ = this;
        free_.push_back(all_.back().get());
    }
    LiveFrame* frame = free_.back();
    free_.pop_back();
    return FrameRef(frame);
}

std::size_t FramePool::Allocated() const {
    std::lock_guard lock(mutex_);
    return all_.size();
}

void FramePool::Return(LiveFrame* frame) {
    std::lock_guard lock(mutex_);
    free_.push_back(frame);  // reserved: never allocates
}

}  // namespace zrfgrab::serve
