#include "tools/zrfgrab/serve/frame_feed.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "support/copy/pixel_copy.h"

namespace zrfgrab::serve {
namespace {

void AppendPixel(std::string& out, const char* name, const PixelCount& p) {
    char text[96];
    std::snprintf(text, sizeof text, ",\"%s\":{\"x\":%d,\"y\":%d,\"count\":%u}", name, p.x, p.y,
                  static_cast<unsigned>(p.count));
    out += text;
}

}  // namespace

FrameFeed::FrameFeed(std::size_t poolCapacity) : pool_(poolCapacity) {}

FrameFeed::~FrameFeed() { Stop(); }

void FrameFeed::SetListener(std::function<void(ConstFrameRef)> listener) { listener_ = std::move(listener); }

void FrameFeed::Start() {
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

void FrameFeed::Stop() {
    {
        std::lock_guard lock(offerMutex_);
        stopping_ = true;
    }
    offered_.notify_all();
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(viewMutex_);
    latest_.reset();
}

bool FrameFeed::Offer(std::uint64_t number, int width, int height, std::span<const std::uint16_t> counts) {
    if (width <= 0 || height <= 0 || counts.size() / static_cast<std::size_t>(width) < static_cast<std::size_t>(height))
        return false;
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    {
        std::lock_guard lock(offerMutex_);
        if (hasIncoming_) skipped_.fetch_add(1);  // the encoder did not take the last one in time
        incoming_.resize(n);  // capacity kept: no allocation once a frame of this size was seen
        CopyPixels(reinterpret_cast<std::uint8_t*>(incoming_.data()),
                   reinterpret_cast<const std::uint8_t*>(counts.data()), n * sizeof(std::uint16_t), false);
        incomingWidth_ = width;
        incomingHeight_ = height;
        incomingNumber_ = number;
        hasIncoming_ = true;
    }
    offered_.notify_one();
    return true;
}

View FrameFeed::CurrentView() const {
    std::lock_guard lock(viewMutex_);
    return view_;
}

void FrameFeed::SetView(const View& view) {
    std::lock_guard lock(viewMutex_);
    view_ = view;
}

ConstFrameRef FrameFeed::Latest() const {
    std::lock_guard lock(viewMutex_);
    return latest_;
}

void FrameFeed::Run() {
    for (;;) {
        int width = 0, height = 0;
        std::uint64_t number = 0;
        {
            std::unique_lock lock(offerMutex_);
            offered_.wait(lock, [&] { return hasIncoming_ || stopping_; });
            if (stopping_) return;
            incoming_.swap(working_);  // the capture thread fills the other buffer meanwhile
            width = incomingWidth_;
            height = incomingHeight_;
            number = incomingNumber_;
            hasIncoming_ = false;
        }
        FrameRef frame = pool_.Acquire();
        if (!frame) {
            // Every frame is held by sessions still sending: this one is skipped, not waited for.
            skipped_.fetch_add(1);
            continue;
        }
        frame->number = number;
        frame->width = width;
        frame->height = height;
        frame->counts.swap(working_);
        Make(*frame);
        made_.fetch_add(1);
        {
            std::lock_guard lock(viewMutex_);
            latest_ = frame;
        }
        if (listener_) listener_(frame);
    }
}

void FrameFeed::Make(LiveFrame& frame) {
    const View view = CurrentView();
    frame.stats = FrameStats(frame.View()).value_or(RegionStats{});
    Vorn::Picture::RenderOptions options;
    options.palette = view.palette;
    options.range = view.fixedRange;
    options.colourBar = false;
    frame.jpeg.clear();
    Vorn::Picture::CountRange range = view.fixedRange.value_or(Vorn::Picture::CountRange{});
    if (watchers_.load() > 0) {
        if (renderer_.Render(frame.width, frame.height, frame.counts, options)) {
            range = renderer_.Range();
            if (!encoder_.Encode(renderer_.Picture(), frame.jpeg)) frame.jpeg.clear();
        }
    }
    frame.range = range;
    char text[224];
    std::snprintf(text, sizeof text,
                  "\"frame\":%" PRIu64 ",\"width\":%d,\"height\":%d,\"palette\":\"%.*s\",\"fixed\":%s,"
                  "\"low\":%u,\"high\":%u,\"mean\":%.2f",
                  frame.number, frame.width, frame.height, static_cast<int>(view.palette->Name().size()),
                  view.palette->Name().data(), view.fixedRange ? "true" : "false",
                  static_cast<unsigned>(range.low), static_cast<unsigned>(range.high), frame.stats.mean);
    frame.summary.assign(text);  // capacity kept
    AppendPixel(frame.summary, "coldest", frame.stats.coldest);
    AppendPixel(frame.summary, "hottest", frame.stats.hottest);
}

}  // namespace zrfgrab::serve
