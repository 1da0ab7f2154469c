#pragma once
// Lossless video in Matroska: one FFV1 track (FFmpeg's libavformat and libavcodec) whose
// presentation times are the frames' own, in milliseconds after the first, so the frame rate is
// whatever the frames' times make it and a gap stays a gap; beside it a text track with a
// caption per frame, shown exactly as long as the frame. Written as an OutputFile is
// written: whole under a temporary name and renamed into place by Commit, or not at all.
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "tools/picture/output_file.h"
#include "tools/picture/picture_status.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;
struct AVStream;

namespace Vorn::Picture {

// How a picture handed to VideoWriter::Add lies in memory.
enum class VideoLayout {
    Grey16,  // width x height 16-bit counts, rows one after the other, host order
    Yuy2,    // packed Y U Y V, width * 2 bytes a row (width even)
    I420,    // the Y plane, then U and V planes of half width and height, rounded up
};

// The bytes a picture of that layout and size takes.
std::size_t VideoPictureBytes(VideoLayout layout, int width, int height);

class VideoWriter {
  public:
    explicit VideoWriter(std::string path);
    ~VideoWriter();  // removes the temporary file unless committed
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    // Starts the file for pictures of one layout and size; tags are the container's
    // (name, value) pairs.
    PictureStatus Start(VideoLayout layout, int width, int height,
                        std::span<const std::pair<std::string, std::string>> tags);
    // Adds a picture shown `milliseconds` after the first picture; each later than the one
    // before. Each picture is shown until the next one's time; the last as long as the one
    // before it.
    PictureStatus Add(std::span<const std::uint8_t> picture, std::int64_t milliseconds,
                      const std::string& caption);
    void SetPath(std::string path) { out_.SetPath(std::move(path)); }
    const std::string& Path() const { return out_.Path(); }
    std::uint64_t Frames() const { return frames_; }
    // Completes the file and renames it into place.
    PictureStatus Commit();

    // FFmpeg's callbacks; not for callers.
    struct Callbacks;

  private:
    PictureStatus Failed(const std::string& what, int error = 0);
    PictureStatus Drain();
    PictureStatus WritePending(std::int64_t nextPts);
    void Free();

    OutputFile out_;
    VideoLayout layout_ = VideoLayout::Grey16;
    int width_ = 0;
    int height_ = 0;
    AVFormatContext* format_ = nullptr;
    AVIOContext* io_ = nullptr;
    AVCodecContext* encoder_ = nullptr;
    AVStream* stream_ = nullptr;
    AVStream* captions_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVPacket* pending_ = nullptr;  // held until the next one's time gives its duration
    AVPacket* caption_ = nullptr;  // the pending frame's caption
    bool hasPending_ = false;
    bool hasCaption_ = false;
    std::int64_t lastMilliseconds_ = 0;
    std::int64_t lastDuration_ = 0;
    std::uint64_t frames_ = 0;
    int writeError_ = 0;  // errno of the first write that failed
    bool failed_ = false;
    bool started_ = false;
};

}  // namespace Vorn::Picture
