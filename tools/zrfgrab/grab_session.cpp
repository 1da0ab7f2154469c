#include "tools/zrfgrab/grab_session.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "host/devices/framework_exceptions.h"
#include "host/recorder/zrf_recorder.h"
#include "host/system/exceptions.h"
#include "host/xml/documents.h"
#include "host/xml/xml_text.h"
#include "imaging/zrf_records.h"
#include "tools/zrfgrab/arguments.h"
#include "tools/zrfgrab/frame_picture.h"
#include "tools/zrfgrab/grab_report.h"
#include "tools/zrfgrab/input_file.h"

namespace zrfgrab {

std::uint64_t CountAttribute(const System::Xml::Linq::XElement& element, const char* name) {
    const std::string text = element.Attribute(name).value_or("");
    std::uint64_t count = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    return error == std::errc() && end == text.data() + text.size() ? count : 0;
}

namespace {

using namespace Vorn::Zephra::Net::Devices;
using Vorn::Zephra::Entities::XmlUtils::IdentityXml;
using Vorn::Zephra::Simulation::SimulatedCameraHandle;
using Vorn::Zephra::Simulation::SimulatedCameraOptions;

IdentityXml ReadIdentity(const std::string& path) {
    const std::vector<std::uint8_t> bytes = ReadInputFile(path);
    try {
        return IdentityXml(XElement::Parse(std::string(bytes.begin(), bytes.end())));
    } catch (const System::Exception& e) {
        throw UsageError("'" + path + "' is not an identity document: " + e.Message());
    }
}

// The simulated camera at the identity's device path: started, so the identity streams.
std::unique_ptr<SimulatedCameraHandle> CameraAt(const std::string& hostname,
                                                const SimulatedCameraOptions& options) {
    std::string known;
    for (const auto& c : Vorn::Zephra::Simulation::ListSimulatedCameras()) {
        if (c.hostname == hostname) return SimulatedCameraHandle::Start(c.name, options);
        known += (known.empty() ? "" : ", ") + c.name + " at '" + c.hostname + "'";
    }
    throw UsageError("no camera has the device path '" + hostname + "' (" + known + ")");
}

// The device's rates in its own order: --rate-index counts in this list.
std::vector<double> FrameRates(ICameraControl& control) {
    std::vector<double> rates;
    for (const XElement& range : control.Control_GetFrameRates().Elements("Range")) {
        const auto value = range.Attribute("FramesPerSecond");
        const auto fps = value ? Vorn::Zephra::Entities::XmlUtils::ParseXmlDouble(*value) : std::nullopt;
        rates.push_back(fps.value_or(0));
    }
    return rates;
}

// The rate the camera streams at, in frames a second; 0 when it has no rate list or does not say.
double CurrentRate(ICameraControl& control) {
    try {
        const std::vector<double> rates = FrameRates(control);
        const int index = control.Control_GetFrameRate();
        if (index >= 0 && index < static_cast<int>(rates.size()) && rates[index] > 0) return rates[index];
    } catch (const System::Exception&) {
        // A camera without a rate list still streams.
    }
    return 0;
}

double StreamPeriod(ICameraControl& control) {
    const double rate = CurrentRate(control);
    return rate > 0 ? 1.0 / rate : 0.0;
}

void ChooseRate(const GrabOptions& o, ICameraControl& control, const std::string& identifier,
                GrabProgress& progress) {
    if (o.windowing == 0 && o.rateIndex < 0) return;
    const std::vector<double> rates = FrameRates(control);
    const int n = static_cast<int>(rates.size());
    if (o.windowing != 0) {
        const int index = WindowingRateIndex(identifier, rates, o.windowing);
        if (index < 0) throw UsageError("this camera has no windowing");
        progress.Note("settling: switching windowing on takes about 7 s ...");
        control.Control_SetFrameRate(index);
    } else {
        if (o.rateIndex >= n)
            throw UsageError("--rate-index takes 0 to " + std::to_string(n - 1) +
                             " for this camera, not " + std::to_string(o.rateIndex));
        control.Control_SetFrameRate(o.rateIndex);
    }
}

// A recording's cost, said before it starts. The image size is known exactly only once images
// arrive; the camera's format gives it within a few rows: 16-bit pixels of one field and the
// ZRF header and blocks.
void NoteRecordingCost(IGrab& grabber, ICameraControl& control, int fields,
                       GrabProgress& progress, const std::string& path) {
    const XElement format = grabber.Grab_EnumImageFormats().Element("Format");
    const double width = format ? std::atof(format.Attribute("Width").value_or("0").c_str()) : 0;
    const double height = format ? std::atof(format.Attribute("Height").value_or("0").c_str()) : 0;
    if (width <= 0 || height <= 0) return;
    const double bytes = width * std::floor(height / fields) * 2 + Zrf::kTwoBlockOverhead;
    std::string cost = "about " + SizeText(bytes) + " a frame";
    // A camera without a rate list still records; only the per-minute figure is missing.
    if (const double rate = CurrentRate(control); rate > 0) cost += ", " + SizeText(bytes * rate * 60) + " a minute";
    progress.Note("recording to '" + path + "': " + cost);
}

RecordingReport ReadRecordingReport(IDevice& device, const std::string& requested) {
    RecordingReport report;
    const XElement settings = device.Device_XMLData().Element("Recorder");
    report.file = settings ? settings.Attribute("File").value_or("") : "";
    if (report.file.empty()) {
        // The device takes recorder settings without a word: a recording it never made is a
        // failure, not an empty success.
        report.file = requested;
        report.error = "the device made no recording";
        return report;
    }
    report.frames = CountAttribute(settings, "RecordedFrames");
    report.error = settings.Attribute("Error").value_or("");
    report.dropped = CountAttribute(settings, "DroppedFrames");
    report.mostWaiting = CountAttribute(settings, "MostImagesWaiting");
    report.writeBlock = CountAttribute(settings, "WriteBlock");
    report.queueBytes = CountAttribute(settings, "QueueBytes");
    if (report.frames == 0 && report.error.empty())
        report.error = "no frame arrived to record, so nothing was written (a file already there is kept)";
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(report.file, ec);
    report.bytes = ec ? 0 : bytes;
    return report;
}

}  // namespace

std::string FormatEntry(const IDevicePlugin& plugin, const std::string& name) {
    for (const std::string& entry : plugin.Formats()) {
        const auto last = entry.rfind(';');
        if (last != std::string::npos && entry.substr(last + 1) == (name == "IR" ? "ZRF" : name))
            return entry;
    }
    throw UsageError("the plug-in offers no format " + name);
}

GrabSession::GrabSession(const GrabOptions& options, CameraRun run, LoadedPlugin& plugin,
                         const std::string& formatEntry, std::uint64_t wanted,
                         StreamWakeup& wakeup, GrabProgress& progress)
    : options_(options), run_(std::move(run)), wanted_(wanted), wakeup_(wakeup), progress_(progress) {
    StartCamera(plugin, formatEntry);
    device_ = plugin.CreateDevice(identity_.Identifier());
    if (!device_) throw UsageError("the plug-in serves no identifier '" + identity_.Identifier() + "'");
    Subscribe();
}

// A device is disposed before it is let go, and before the state its handlers use goes.
GrabSession::~GrabSession() {
    if (!device_) return;
    try {
        device_->Dispose();
    } catch (...) {
    }
}

void GrabSession::StartCamera(const LoadedPlugin& plugin, const std::string& formatEntry) {
    const GrabOptions& o = options_;
    SimulatedCameraOptions cameraOptions;
    cameraOptions.asFastAsPossible = o.fast;
    cameraOptions.seed = run_.seed;
    cameraOptions.instance = run_.instance;
    cameraOptions.changes = o.imperfections.Changes();
    if (!o.identityFile.empty()) {
        identity_ = ReadIdentity(o.identityFile);
        camera_ = CameraAt(identity_.Hostname(), cameraOptions);
    } else {
        camera_ = o.replay.empty() ? SimulatedCameraHandle::Start(run_.camera, cameraOptions)
                                   : SimulatedCameraHandle::Replay(o.replay, cameraOptions);
        identity_ = camera_->Identity(formatEntry);
    }
    if (!o.identifier.empty()) identity_.SetIdentifier(o.identifier);
    // The format asked for, whatever the camera's identity names.
    identity_.SetSelectedFormatId(formatEntry);
    // The plug-in takes an IEEE-1394 camera's radiometric stream whatever format is named.
    if (identity_.Identifier().find("ZRF_FW") != std::string::npos && o.format != "IR")
        throw UsageError("an IEEE-1394 camera streams only the radiometric format (IR), not " + o.format);
    const std::vector<std::string>& served = plugin.Plugin().Identifiers();
    if (std::find(served.begin(), served.end(), identity_.Identifier()) == served.end())
        throw UsageError("the plug-in serves no identifier '" + identity_.Identifier() + "'");
}

void GrabSession::Subscribe() {
    auto& grab = dynamic_cast<IGrabContinous&>(*device_);
    auto& ir = dynamic_cast<IIRCameraControl&>(*device_);
    auto& recorder = dynamic_cast<IRecorder&>(*device_);
    grab.Completed().Subscribe([this, &recorder](const void*, const GrabContinousCompletedEventArgs& e) {
        std::unique_lock lock(mutex_);
        if (delivered_ >= wanted_) return;
        // Kept only for the picture made at the end: a copy per frame costs as much as the decode.
        if (!run_.png.empty()) last_.assign(e.Image.begin(), e.Image.end());
        ++delivered_;
        const bool startRecording = !run_.record.empty() && options_.preRecord > 0 &&
                                    delivered_ == static_cast<std::uint64_t>(options_.preRecord);
        const bool through = delivered_ == wanted_;
        lock.unlock();
        // The waiting thread looks ten times a second anyway; woken per frame, it would cost a
        // round trip through the platform's scheduler for every frame (Wine's server, on Windows).
        if (through) {
            {
                std::lock_guard wakeLock(wakeup_.mutex);
                ++wakeup_.through;
            }
            wakeup_.changed.notify_all();
        }
        // The recording starts right after the pre-recorded frames, which its ring holds: a
        // handler may start it (it needs no device lock).
        if (startRecording) {
            try {
                recorder.Recorder_Start(options_.seconds > 0 ? 0 : wanted_);
            } catch (const System::Exception& error) {
                std::lock_guard relock(mutex_);
                recordingError_ = error.Message();
            }
        }
    });
    ir.Calibrating().Subscribe([this](const void*, const CalibratingEventArgs& e) {
        std::lock_guard lock(mutex_);
        calibratingNow_ = e.IsCalibrating;
        if (e.IsCalibrating) ++calibrating_;
    });
}

void GrabSession::Connect() {
    try {
        device_->Device_Connect(identity_.XMLData());
    } catch (const DeviceConnectionFailedException& e) {
        // Checked here, before any streaming: the camera lacks the format.
        if (e.Message() == "SetMediaType failed")
            throw UsageError("the camera does not offer the format " + options_.format);
        throw;
    }
    auto& control = dynamic_cast<ICameraControl&>(*device_);
    ChooseRate(options_, control, identity_.Identifier(), progress_);
    framePeriod_ = StreamPeriod(control);
    if (!run_.record.empty()) SetUpRecording();
}

void GrabSession::Begin() {
    // Without a pre-recording, started before the stream: the recording holds the first
    // frames, and as many as were asked for.
    if (!run_.record.empty() && options_.preRecord == 0)
        dynamic_cast<IRecorder&>(*device_).Recorder_Start(options_.seconds > 0 ? 0 : wanted_);
    // A pre-recording's ring fills from the first frame on: the recording is under way.
    recordingBegun_ = !run_.record.empty();
    dynamic_cast<IGrabContinous&>(*device_).GrabContinous_Start();
    streamBegun_ = true;
}

void GrabSession::SetUpRecording() {
    auto& recorder = dynamic_cast<IRecorder&>(*device_);
    Vorn::Zephra::Entities::XmlUtils::RecorderXml settings;
    settings.SetPath(run_.record);
    // A camera run as fast as it goes keeps no rhythm: it waits for the disk rather than lose
    // frames from the recording. In real time a frame that finds the disk too far behind is
    // left out of the recording (and counted), never held from the live stream.
    settings.SetWaitForDisk(options_.fast);
    settings.SetIsPreRecordingEnabled(options_.preRecord > 0);
    if (options_.preRecord > 0) settings.SetMaxNumberOfFramesInPreRecording(options_.preRecord);
    recorder.Recorder_Setup(settings.XMLData());
}

// Said once every camera is connected: a run refused before it starts records nothing.
void GrabSession::NoteRecording() {
    if (run_.record.empty()) return;
    NoteRecordingCost(dynamic_cast<IGrab&>(*device_), dynamic_cast<ICameraControl&>(*device_),
                      std::max(options_.windowing, 1), progress_, run_.record);
}

// What a replay skipped of its recording, said once the stream stopped.
void GrabSession::NotePassedOver() {
    if (options_.replay.empty() || !camera_) return;
    const auto passed = camera_->FramesPassedOver();
    if (passed.damaged > 0)
        progress_.Note("'" + options_.replay + "': " + Counted(passed.damaged, "damaged frame") +
                       " skipped (failing " + (passed.damaged == 1 ? "its checksum" : "their checksums") +
                       ", or in damaged stretches passed over)");
    if (passed.otherSize > 0)
        progress_.Note("'" + options_.replay + "': " + Counted(passed.otherSize, "frame") +
                       " of another size than the first skipped");
}

GrabSession::State GrabSession::Current() {
    std::lock_guard lock(mutex_);
    return {delivered_, calibratingNow_, recordingError_};
}

std::uint64_t GrabSession::LostFrames() {
    const int lost = dynamic_cast<IGrabContinous&>(*device_).GrabContinous_LostFrames();
    return static_cast<std::uint64_t>(std::max(lost, 0)) + (camera_ ? camera_->FramesDropped() : 0);
}

int GrabSession::LapTime() { return dynamic_cast<IGrabContinous&>(*device_).GrabContinous_LapTime(); }

void GrabSession::StreamEnded() {
    if (droppedAtEnd_) return;
    // Stopped first: a stall under way when the run ended is counted by the camera as it stops.
    if (streamBegun_) {
        streamBegun_ = false;
        try {
            dynamic_cast<IGrabContinous&>(*device_).GrabContinous_Stop();
        } catch (const System::Exception& e) {
            stopFailures_.push_back(e.Message());
        } catch (const std::exception& e) {
            stopFailures_.push_back(e.what());
        }
    }
    droppedAtEnd_ = camera_ ? camera_->FramesDropped() : 0;
}

CameraSummary GrabSession::Finish(double fps, bool cutShort) {
    CameraSummary summary;
    summary.label = run_.label;
    summary.fps = fps;
    auto collect = [&](const std::function<void()>& step) {
        try {
            step();
        } catch (const System::Exception& e) {
            summary.failures.push_back(e.Message());
        } catch (const std::exception& e) {
            summary.failures.push_back(e.what());
        }
    };
    auto& grab = dynamic_cast<IGrabContinous&>(*device_);
    StreamEnded();
    summary.failures = std::move(stopFailures_);
    if (recordingBegun_) {
        // A run that ended before the pre-recording's ring filled ends with what the ring holds:
        // the recording is started now, and written from it.
        bool started = options_.preRecord == 0;
        {
            std::lock_guard lock(mutex_);
            started = started || delivered_ >= static_cast<std::uint64_t>(options_.preRecord);
        }
        if (!started) collect([&] { dynamic_cast<IRecorder&>(*device_).Recorder_Start(0); });
        collect([&] { dynamic_cast<IRecorder&>(*device_).Recorder_Stop(0); });
        collect([&] { summary.recording = ReadRecordingReport(*device_, run_.record); });
        // A count asked for and not interrupted is all there, or the run says what is missing.
        RecordingReport* r = summary.recording ? &*summary.recording : nullptr;
        if (r && r->error.empty() && options_.seconds == 0 && !cutShort && r->frames < wanted_)
            r->error = "it holds fewer than the " + std::to_string(wanted_) + " frames asked for" +
                       (options_.preRecord > 0 ? " (the pre-recording buffer keeps at most " +
                                                     std::to_string(Recorder::kMaxPreRecordingBytes >> 20) +
                                                     " MiB of images)"
                                               : "");
    }
    collect([&] { summary.lost = grab.GrabContinous_LostFrames(); });
    summary.cameraDropped = *droppedAtEnd_;
    NotePassedOver();
    if (options_.windowing != 0) progress_.Note("settling: switching windowing off takes about 7 s ...");
    collect([&] { device_->Device_Disconnect(); });

    std::lock_guard lock(mutex_);
    summary.delivered = delivered_;
    summary.calibrating = calibrating_;
    if (summary.recording && !summary.recording->error.empty()) {
        const RecordingReport& r = *summary.recording;
        const std::string count = options_.seconds > 0 || options_.preRecord > 0
                                      ? Counted(r.frames, "frame")
                                      : std::to_string(r.frames) + " of " + Counted(wanted_, "frame");
        summary.failures.push_back("the recording '" + r.file + "' stopped after " + count + ": " + r.error);
    }
    if (!run_.png.empty()) {
        const std::string error = last_.empty()
                                      ? "no image arrived to make a picture of"
                                      : WriteFramePicture(run_.png, options_.format, last_, options_.palette);
        if (error.empty()) summary.picture = run_.png;
        else summary.failures.push_back(error);
    }
    return summary;
}

}  // namespace zrfgrab
