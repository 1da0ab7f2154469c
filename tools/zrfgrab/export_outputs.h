#pragma once
// What zrfgrab export writes frames to: a file per frame (pictures, ZRF images, camera samples,
// 16-bit TIFF and PNG, CSV) or one file per run of frames of equal size (a TIFF stack, a video).
#include <cstdint>
#include <exception>
#include <set>
#include <utility>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "host/recorder/recording_file.h"

namespace zrfgrab {

struct ExportOptions {
    std::string recording;
    // "png", "zrf", "sample", "tiff" (a file per frame), "tiff-stack", "png16", "csv", "video"
    std::string kind;
    std::string output;  // the folder, or the file of a stack or video
    std::string palette = "iron";
    std::uint64_t first = 0;  // every frame unless --frames says otherwise (a number may be 0)
    std::uint64_t last = UINT64_MAX;
    std::string frames = "1-";
    bool bigTiff = false;  // the stack may pass 4 GiB
};

// A recorded image as the exports see it: radiometric counts, a visual picture behind its
// header, or neither. Everything is checked against the image's size.
struct ExportPicture {
    enum class Kind { Counts, Yuy2, I420, Other };
    Kind kind = Kind::Other;
    int width = 0;
    int height = 0;
    std::span<const std::uint16_t> counts;  // Counts: rows one after the other, host order
    std::span<const std::uint8_t> visual;   // Yuy2, I420: the picture behind its header
};
ExportPicture ReadExportPicture(std::span<const std::uint8_t> image);

// What a frame's text says in the outputs that carry one.
struct FrameText {
    std::string number;  // "17"
    std::string time;    // "2026-12-07 20:29:00.033", the capturing host's local time
    std::string zone;    // "UTC+01:00", its standard zone; empty when not recorded
    std::string times;   // "local time of the capturing host, standard zone UTC+01:00"
    std::string tiffDateTime;  // "2026:12:07 20:29:00"
};
FrameText TextOf(const Vorn::Zephra::Net::Devices::Recorder::RecordedFrame& frame);

// A frame the output cannot take (a visual frame in a radiometric format, say): it is left out,
// named, and the export goes on. Thrown before anything of the frame is written.
class FrameLeftOut : public std::exception {
  public:
    explicit FrameLeftOut(std::string why) : why_(std::move(why)) {}
    const char* what() const noexcept override { return why_.c_str(); }

  private:
    std::string why_;
};

class FrameOutput {
  public:
    virtual ~FrameOutput() = default;
    // Exports one frame; throws FrameLeftOut when the output cannot take it, and
    // System::IOException when its file cannot be written.
    virtual void Add(const Vorn::Zephra::Net::Devices::Recorder::RecordedFrame& frame) = 0;
    // Completes what is written, after an interruption too; returns the summary, line by line.
    // Throws System::IOException when a file cannot be completed.
    virtual std::string Finish() = 0;
};

// note: a line for the user while the export runs (the frame size changes, say).
std::unique_ptr<FrameOutput> MakeFrameOutput(const ExportOptions& options,
                                             std::function<void(const std::string&)> note);

// The names of a file per frame: "frame_000017.png", and where a number repeats in a recording
// "frame_000017-2.png" for its second frame, so no frame's file replaces another's.
class FrameNames {
  public:
    std::string For(std::uint64_t number, const char* extension);

  private:
    std::set<std::pair<std::uint64_t, int>> used_;  // numbers seen, and how often
    std::uint64_t highest_ = 0;
    bool any_ = false;
};

// The file a run of a split output takes: "out.tif" gives "out-2.tif" for run 2.
std::string NumberedRunPath(const std::string& path, int run);

}  // namespace zrfgrab
