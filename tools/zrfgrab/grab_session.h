#pragma once
// One camera of a grab: its device, connected through the plug-in as the application connects
// one, streamed, recorded, stopped and reported on. Several sessions run side by side in one
// grab, each with its own camera, device and recording.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/devices/device_interfaces.h"
#include "host/xml/x_element.h"
#include "host/loader/plugin_loader.h"
#include "sim/handle/simulated_camera_handle.h"
#include "tools/zrfgrab/grab_options.h"
#include "tools/zrfgrab/grab_progress.h"

namespace zrfgrab {

// What the recorder says became of a recording.
// A count the device reports in an attribute: what is not a plain decimal number (a sign, other
// characters, too large) reads as 0, never as a huge count.
std::uint64_t CountAttribute(const System::Xml::Linq::XElement& element, const char* name);

struct RecordingReport {
    std::string file;
    std::uint64_t frames = 0;
    std::uint64_t dropped = 0;  // delivered while recording and not in the file
    std::uint64_t mostWaiting = 0;  // the most images waiting for the disk at once
    std::uint64_t queueBytes = 0;   // the memory held for frames waiting for the disk
    std::uint64_t writeBlock = 0;   // written in blocks of this many bytes around the page cache; 1: through it
    std::uintmax_t bytes = 0;
    std::string error;  // why it stopped early; empty when nothing stopped it
};

struct CameraSummary {
    std::string label;  // the camera as the summary names it
    std::uint64_t delivered = 0;
    int lost = 0;
    std::uint64_t cameraDropped = 0;  // frames the camera dropped before the plug-in saw them
    std::uint64_t calibrating = 0;
    double fps = 0;
    std::optional<RecordingReport> recording;
    std::string picture;
    // Every failure once streaming began, each its own line after the summary: one never hides
    // another, nor the summary.
    std::vector<std::string> failures;
};

// The plug-in's own format entry for a format name (IR, YUY2, JPEG_PLAIN); throws UsageError
// when it offers none.
std::string FormatEntry(const Vorn::Zephra::Net::Devices::IDevicePlugin& plugin, const std::string& name);

// Wakes the thread that waits on the sessions when a camera has delivered what was asked (it
// also looks every 100 ms, for progress, signals and the end of a timed run). `through` counts
// the cameras that got there, under `mutex`, so a wake-up is never lost to a waiter not yet
// waiting.
struct StreamWakeup {
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t through = 0;
};

// Which camera a session streams and where its outputs go.
struct CameraRun {
    std::string label;
    std::string camera;   // a preset; empty with a replay or an identity
    int instance = 0;     // the preset's n-th further camera
    std::uint32_t seed = 1;
    std::string record;   // empty: not recorded
    std::string png;      // empty: no picture
};

class GrabSession {
  public:
    // Starts the camera, checks what the plug-in serves and creates the device; throws
    // UsageError for what the user asked wrongly.
    GrabSession(const GrabOptions& options, CameraRun run,
                Vorn::Zephra::Net::Devices::LoadedPlugin& plugin, const std::string& formatEntry,
                std::uint64_t wanted, StreamWakeup& wakeup, GrabProgress& progress);
    ~GrabSession();
    GrabSession(const GrabSession&) = delete;
    GrabSession& operator=(const GrabSession&) = delete;

    // Connects, sets the rate and sets up the recording: what can fail for what the user asked
    // fails here, before any camera of the grab streams.
    void Connect();
    // Says what the recording will cost, once every camera is connected.
    void NoteRecording();
    // Starts the recording (unless it waits for the pre-recorded frames) and the stream.
    void Begin();
    // Where the stream is, read by the waiting thread.
    struct State {
        std::uint64_t delivered = 0;
        bool calibratingNow = false;
        std::string recordingError;  // a recording the handler started, that failed to start
    };
    State Current();
    // What the plug-in lost and what the camera dropped, for the progress line.
    std::uint64_t LostFrames();
    int LapTime();
    // The period, in seconds, of the rate the camera streams at; 0 when it does not say.
    double FramePeriod() const { return framePeriod_; }
    // Ends the stream and takes what the camera dropped: called for every camera before any is
    // finished, so each summary covers the same run (the cameras finished last would stream
    // on meanwhile). Failures wait for Finish's summary.
    void StreamEnded();
    // Stops the stream and the recording, disconnects and writes the picture; failures are
    // collected into the summary, never thrown. `cutShort`: the run ended before what was asked
    // (a signal, or another camera that stopped), so a recording may hold less.
    CameraSummary Finish(double fps, bool cutShort);
    const CameraRun& Run() const { return run_; }

  private:
    void StartCamera(const Vorn::Zephra::Net::Devices::LoadedPlugin& plugin, const std::string& formatEntry);
    void Subscribe();
    void SetUpRecording();
    void NotePassedOver();

    const GrabOptions& options_;
    const CameraRun run_;
    const std::uint64_t wanted_;
    double framePeriod_ = 0;  // written by Connect, before the waiting thread reads it
    StreamWakeup& wakeup_;
    GrabProgress& progress_;
    std::unique_ptr<Vorn::Zephra::Simulation::SimulatedCameraHandle> camera_;
    std::optional<std::uint64_t> droppedAtEnd_;  // what the camera had dropped by StreamEnded
    std::vector<std::string> stopFailures_;      // the stream's stop, for Finish's summary
    Vorn::Zephra::Entities::XmlUtils::IdentityXml identity_;
    std::shared_ptr<Vorn::Zephra::Net::Devices::IDevice> device_;
    // What Begin got to: Finish undoes only that, and says nothing of what never began.
    bool recordingBegun_ = false;
    bool streamBegun_ = false;

    // The handlers' state, shared with the waiting thread.
    std::mutex mutex_;
    std::uint64_t delivered_ = 0;
    std::uint64_t calibrating_ = 0;
    bool calibratingNow_ = false;
    std::vector<std::uint8_t> last_;  // the last image, copied: the device reuses its buffer
    std::string recordingError_;
};

}  // namespace zrfgrab
