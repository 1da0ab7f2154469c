#include "tools/zrfgrab/serve/live_camera.h"

#include <atomic>
#include <ctime>
#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "tools/picture/false_colour_renderer.h"
#include "tools/picture/png_file.h"
#ifdef ZRF_HAVE_TIFF
#include "tools/formats/tiff_writer.h"
#endif
#include "tools/zrfgrab/arguments.h"

namespace zrfgrab::serve {
namespace {

constexpr auto kPollEvery = std::chrono::milliseconds(500);

std::string ReadBack(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return bytes;
}

// The snapshot's time as the TIFF DateTime tag takes it.
std::string TiffNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &local);
    return text;
}

}  // namespace

std::string RecordedCount(const CameraStatus& s) {
    std::string text = zrfgrab::Counted(s.recordingFrames, "frame");
    if (s.recordingDropped > 0) text += ", " + std::to_string(s.recordingDropped) + " not recorded";
    return text;
}

std::string GoneNote(const CameraStatus& s) {
    std::string note = "camera " + s.name + " disappeared";
    if (!s.recordingClosedByDisappearance) return note;
    if (s.recordingFrames == 0)
        return note + (s.recordingDropped > 0 ? "; no image of its recording was recorded, so no file was kept"
                                              : "; its recording had no frame, so no file was kept");
    return note + "; its recording " + s.recordingFile + " was closed with " + RecordedCount(s);
}

std::optional<std::string> DisappearanceNotes::Next(const CameraStatus& s) {
    const bool gone = s.state == "gone";
    const bool news = gone && !told_;
    told_ = gone;
    if (!news) return std::nullopt;
    return GoneNote(s);
}

ActionResult Refusal(int status, const std::string& message) {
    return {status, nlohmann::json{{"error", message}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)};
}

LiveCamera::LiveCamera(std::string name, std::size_t poolCapacity, std::filesystem::path scratchDir)
    : name_(std::move(name)), scratchDir_(std::move(scratchDir)), feed_(poolCapacity) {
    status_.name = name_;
}

LiveCamera::~LiveCamera() { StopThread(); }

CameraStatus LiveCamera::Status() const {
    std::lock_guard lock(statusMutex_);
    return status_;
}

std::shared_ptr<const Snapshot> LiveCamera::LastSnapshot() const {
    std::lock_guard lock(statusMutex_);
    return snapshots_.empty() ? nullptr : snapshots_.back();
}

std::shared_ptr<const Snapshot> LiveCamera::SnapshotById(std::uint64_t id) const {
    std::lock_guard lock(statusMutex_);
    for (const auto& snapshot : snapshots_)
        if (snapshot->id == id) return snapshot;
    return nullptr;
}

bool LiveCamera::Submit(Action action, std::function<void(const ActionResult&)> done) {
    {
        std::lock_guard lock(jobMutex_);
        if (stopping_) return false;
        // At most one correction waits, always last.
        const bool correctionWaits = !jobs_.empty() && jobs_.back().action == Action::Correct;
        if (action == Action::Correct && correctionWaits) {
            if (jobs_.back().done.size() >= kMaxWaitingForOne) return false;
            jobs_.back().done.push_back(std::move(done));
        } else {
            if (jobs_.size() >= kMaxQueued) return false;
            const auto at = jobs_.insert(correctionWaits ? std::prev(jobs_.end()) : jobs_.end(), Job{action, {}});
            at->done.push_back(std::move(done));
        }
    }
    jobAdded_.notify_one();
    return true;
}

std::size_t LiveCamera::WaitingRequests() {
    std::lock_guard lock(jobMutex_);
    std::size_t n = 0;
    for (const Job& job : jobs_) n += job.done.size();
    return n;
}

ActionResult LiveCamera::Run(Action action) {
    std::lock_guard lock(runMutex_);
    return Dispatch(action);
}

void LiveCamera::StartThread() {
    if (thread_.joinable()) return;
    {
        std::lock_guard lock(jobMutex_);
        stopping_ = false;
    }
    thread_ = std::thread([this] { Loop(); });
}

void LiveCamera::StopThread() {
    {
        std::lock_guard lock(jobMutex_);
        stopping_ = true;
    }
    jobAdded_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void LiveCamera::Loop() {
    auto nextPoll = std::chrono::steady_clock::now();
    for (;;) {
        std::optional<Job> job;
        {
            std::unique_lock lock(jobMutex_);
            jobAdded_.wait_until(lock, nextPoll, [&] { return stopping_ || !jobs_.empty(); });
            if (stopping_) {
                // Whoever waits for an answer gets one.
                for (Job& j : jobs_)
                    for (auto& done : j.done) done(Refusal(503, "the server is ending"));
                jobs_.clear();
                return;
            }
            if (!jobs_.empty()) {
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
        }
        if (job) {
            ActionResult result;
            {
                std::lock_guard run(runMutex_);
                result = Dispatch(job->action);
            }
            for (auto& done : job->done) done(result);
        }
        if (std::chrono::steady_clock::now() >= nextPoll) {
            std::lock_guard run(runMutex_);
            Poll();
            nextPoll = std::chrono::steady_clock::now() + kPollEvery;
        }
    }
}

ActionResult LiveCamera::Dispatch(Action action) {
    if (action == Action::Snapshot) return TakeSnapshot();
    return Perform(action);
}

ActionResult LiveCamera::TakeSnapshot() {
    using namespace Vorn::Picture;
    const ConstFrameRef frame = feed_.Latest();
    if (!frame) return Refusal(409, "no frame has arrived yet");
    const View view = feed_.CurrentView();
    FalseColourRenderer renderer;
    RenderOptions options;
    options.palette = view.palette;
    options.range = view.fixedRange;
    if (auto s = renderer.Render(frame->width, frame->height, frame->counts, options); !s)
        return Refusal(500, s.Message());
    static std::atomic<unsigned> taken{0};
    const std::string stem = "snapshot-" + std::to_string(taken.fetch_add(1));
    const auto pngPath = scratchDir_ / (stem + ".png");
    if (auto s = WritePng(pngPath.string(), renderer.Picture()); !s) return Refusal(500, s.Message());
    auto snapshot = std::make_shared<Snapshot>();
    snapshot->id = ++snapshotsTaken_;
    snapshot->frame = frame->number;
    snapshot->png = ReadBack(pngPath);
#ifdef ZRF_HAVE_TIFF
    const auto tiffPath = scratchDir_ / (stem + ".tif");
    TiffWriter tiff(tiffPath.string(), false);
    const TiffPageText text{"frame " + std::to_string(frame->number), TiffNow(),
                            "frame=" + std::to_string(frame->number) + "\ncamera=" + name_};
    if (auto s = tiff.AddPage(frame->width, frame->height, frame->counts, text, false); !s)
        return Refusal(500, s.Message());
    if (auto s = tiff.Commit(); !s) return Refusal(500, s.Message());
    snapshot->tiff = ReadBack(tiffPath);
#endif
    if (snapshot->png.empty()) return Refusal(500, "the snapshot could not be read back");
    {
        std::lock_guard lock(statusMutex_);
        snapshots_.push_back(snapshot);
        if (snapshots_.size() > kKeptSnapshots) snapshots_.pop_front();
    }
    nlohmann::json reply{{"id", snapshot->id},
                         {"frame", frame->number},
                         {"png", snapshot->png.size()},
                         {"tiff", snapshot->tiff.size()}};
    return {200, reply.dump()};
}

}  // namespace zrfgrab::serve
