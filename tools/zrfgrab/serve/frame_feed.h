#pragma once
// One camera's frames on their way to the live view. The capture thread offers each frame's
// counts (one copy, into a buffer kept for it); a thread of the feed's own takes the newest,
// measures it, colours it with the camera's view and encodes it as JPEG, and hands it on. A
// frame offered while the last one is still being encoded replaces the one waiting: capture
// never waits for the encoder, and the encoder never waits for a client.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "tools/picture/count_range.h"
#include "tools/picture/false_colour_renderer.h"
#include "tools/picture/palette.h"
#include "tools/zrfgrab/serve/jpeg_encoder.h"
#include "tools/zrfgrab/serve/live_frame.h"

namespace zrfgrab::serve {

// How a camera's frames are coloured: for every viewer alike, so the colour bar's counts mean
// the same on every screen.
struct View {
    const Vorn::Picture::Palette* palette = &Vorn::Picture::Palette::Iron();
    std::optional<Vorn::Picture::CountRange> fixedRange;  // none: found from each frame
};

class FrameFeed {
  public:
    // poolCapacity bounds the frames in existence (see FramePool).
    explicit FrameFeed(std::size_t poolCapacity);
    ~FrameFeed();
    FrameFeed(const FrameFeed&) = delete;
    FrameFeed& operator=(const FrameFeed&) = delete;

    // Called once, before Start: gets every frame made, on the feed's thread.
    void SetListener(std::function<void(ConstFrameRef)> listener);
    void Start();
    void Stop();  // the listener is not called after it returns

    // From the capture thread: copies width x height counts; false (and nothing copied) for a
    // frame that does not hold them.
    bool Offer(std::uint64_t number, int width, int height, std::span<const std::uint16_t> counts);

    // Viewers: frames are coloured and encoded only while there are any.
    void AddWatcher() { watchers_.fetch_add(1); }
    void RemoveWatcher() { watchers_.fetch_sub(1); }

    View CurrentView() const;
    void SetView(const View& view);

    // The newest frame made (null before the first).
    ConstFrameRef Latest() const;
    // Frames the feed skipped: newer ones came first, or every pool frame was held.
    std::uint64_t Skipped() const { return skipped_.load(); }
    std::uint64_t Made() const { return made_.load(); }
    FramePool& Pool() { return pool_; }

  private:
    void Run();
    void Make(LiveFrame& frame);

    FramePool pool_;
    std::function<void(ConstFrameRef)> listener_;  // set before Start, then only read

    // The capture thread's hand-over, guarded by offerMutex_.
    std::mutex offerMutex_;
    std::condition_variable offered_;
    std::vector<std::uint16_t> incoming_;
    int incomingWidth_ = 0;
    int incomingHeight_ = 0;
    std::uint64_t incomingNumber_ = 0;
    bool hasIncoming_ = false;
    bool stopping_ = false;

    // The feed thread's own.
    std::vector<std::uint16_t> working_;
    Vorn::Picture::FalseColourRenderer renderer_;
    JpegEncoder encoder_;

    mutable std::mutex viewMutex_;
    View view_;             // guarded by viewMutex_
    ConstFrameRef latest_;  // guarded by viewMutex_

    std::atomic<int> watchers_{0};
    std::atomic<std::uint64_t> skipped_{0};
    std::atomic<std::uint64_t> made_{0};
    std::thread thread_;
};

}  // namespace zrfgrab::serve
