#pragma once
// A camera as the live view sees it: its frames (a FrameFeed), what it reports (a CameraStatus
// refreshed on a thread of its own every half second) and the actions clients ask of it. Actions
// run one at a time on that thread, never on the server's: a correction or a recording's start
// may take a while, and no client waits for another's.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/zrfgrab/serve/frame_feed.h"

namespace zrfgrab::serve {

struct CameraStatus {
    std::string name;    // the preset, or the replayed recording's file name
    std::string model;
    std::string format;  // as the plug-in names it
    bool canCorrect = false;  // an infrared camera: takes a non-uniformity correction
    std::string state = "starting";  // "starting", "streaming", "gone" or "stopped"
    std::string message;             // why it is gone or stopped
    std::uint64_t delivered = 0;
    std::uint64_t lost = 0;           // frames the plug-in could not make an image of
    std::uint64_t cameraDropped = 0;  // frames the camera dropped: its thread fell behind
    bool calibrating = false;
    std::uint64_t calibrations = 0;
    double fps = 0;
    int width = 0;
    int height = 0;
    bool recording = false;
    std::string recordingFile;   // the running or last recording
    std::uint64_t recordingFrames = 0;
    std::uint64_t recordingDropped = 0;  // images it should hold and does not: no room, a failed write
    std::string recordingEnd;    // why the last recording ended, once it has
    bool recordingClosedByDisappearance = false;  // the camera's last disappearance ended a recording
};

// "12 frames", or "12 frames, 3 not recorded" when the recorder had to leave images out.
std::string RecordedCount(const CameraStatus& s);

// What serve prints when a camera disappears: its recording only when the disappearance closed it.
std::string GoneNote(const CameraStatus& s);

// Tells of a camera's disappearance once, and again each time it disappears after coming back.
class DisappearanceNotes {
  public:
    // The note for this status of the camera, when it is news.
    std::optional<std::string> Next(const CameraStatus& s);

  private:
    bool told_ = false;
};

enum class Action { StartRecording, StopRecording, Correct, Snapshot };

struct ActionResult {
    int status = 200;  // as HTTP has it
    std::string json;  // the reply: an object
};

// A snapshot: one frame as a false-colour PNG and its counts as a 16-bit TIFF, under an id of
// its own (counting from 1 per camera).
struct Snapshot {
    std::uint64_t id = 0;
    std::uint64_t frame = 0;
    std::string png;
    std::string tiff;  // empty in a build without libtiff
};

class LiveCamera {
  public:
    // Snapshots are written in scratchDir first (with the picture writers' own checks).
    LiveCamera(std::string name, std::size_t poolCapacity, std::filesystem::path scratchDir);
    virtual ~LiveCamera();
    LiveCamera(const LiveCamera&) = delete;
    LiveCamera& operator=(const LiveCamera&) = delete;

    const std::string& Name() const { return name_; }
    FrameFeed& Feed() { return feed_; }
    CameraStatus Status() const;

    // Queues an action; false when kMaxQueued already wait (answer: busy). done runs on the
    // camera's thread. A correction takes long: one waiting takes every later request for one
    // (each gets its answer) and stays behind every other action, so nothing waits for more
    // than the correction being made.
    static constexpr std::size_t kMaxQueued = 8;
    static constexpr std::size_t kMaxWaitingForOne = 64;  // requests one queued correction answers
    bool Submit(Action action, std::function<void(const ActionResult&)> done);
    // Requests waiting for an action that has not begun.
    std::size_t WaitingRequests();
    // Runs an action on the calling thread, after those queued (for the end of a run).
    ActionResult Run(Action action);
    // The last kKeptSnapshots snapshots are kept; an older id is gone (null).
    static constexpr std::size_t kKeptSnapshots = 8;
    std::shared_ptr<const Snapshot> LastSnapshot() const;
    std::shared_ptr<const Snapshot> SnapshotById(std::uint64_t id) const;

    // The camera's thread: started by the subclass once it can act, stopped before it goes.
    void StartThread();
    void StopThread();

  protected:
    virtual ActionResult Perform(Action action) = 0;
    // Every half second on the camera's thread.
    virtual void Poll() = 0;
    template <class Change>
    void ChangeStatus(Change change) {
        std::lock_guard lock(statusMutex_);
        change(status_);
    }

  private:
    struct Job {
        Action action;
        std::vector<std::function<void(const ActionResult&)>> done;  // every request it answers
    };
    void Loop();
    ActionResult Dispatch(Action action);
    ActionResult TakeSnapshot();

    const std::string name_;
    const std::filesystem::path scratchDir_;
    FrameFeed feed_;

    mutable std::mutex statusMutex_;
    CameraStatus status_;                                // guarded by statusMutex_
    std::deque<std::shared_ptr<const Snapshot>> snapshots_;  // guarded by statusMutex_, oldest first
    std::uint64_t snapshotsTaken_ = 0;                   // the camera's thread's (runMutex_)

    std::mutex jobMutex_;  // guards jobs_ and stopping_; actions themselves run one at a time
    std::condition_variable jobAdded_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::mutex runMutex_;  // one action at a time, from the thread or Run
    std::thread thread_;
};

// An action's reply for a failure: {"error": message}.
ActionResult Refusal(int status, const std::string& message);

}  // namespace zrfgrab::serve
