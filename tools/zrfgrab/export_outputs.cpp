#include "tools/zrfgrab/export_outputs.h"

#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include "host/system/exceptions.h"
#include "imaging/visual_frame_header.h"
#include "imaging/zrf_byte_order.h"
#include "imaging/zrf_records.h"
#include "sim/cameras/usb_sample_from_image.h"
#include "support/copy/pixel_copy.h"
#include "tools/picture/output_file.h"
#include "tools/picture/png_file.h"
#include "tools/zrfgrab/arguments.h"
#include "tools/zrfgrab/distinct_paths.h"
#include "tools/zrfgrab/frame_picture.h"
#include "tools/zrfgrab/frame_time.h"
#include "tools/zrfgrab/recording_rate.h"
#include "tools/zrfgrab/zrf_image_view.h"
#ifdef ZRF_HAVE_TIFF
#include "tools/formats/tiff_writer.h"
#endif
#ifdef ZRF_HAVE_VIDEO
#include "tools/formats/video_writer.h"
#endif

namespace zrfgrab {
namespace {

using Vorn::Zephra::Net::Devices::Recorder::RecordedFrame;
using Note = std::function<void(const std::string&)>;

std::string FrameName(std::uint64_t number, const char* extension) {
    char name[64];
    std::snprintf(name, sizeof name, "frame_%06" PRIu64 ".%s", number, extension);
    return name;
}

std::string InFolder(const std::string& folder, const std::string& name) {
    return (std::filesystem::path(folder) / name).string();
}

std::string Size(int width, int height) { return std::to_string(width) + "x" + std::to_string(height); }

void Check(const Vorn::Picture::PictureStatus& status) {
    if (!status) throw System::IOException(status.Message());
}

// The counts of a frame, or why the frame has none.
ExportPicture CountsOf(const RecordedFrame& frame, const char* option) {
    ExportPicture picture = ReadExportPicture(frame.image);
    if (picture.kind != ExportPicture::Kind::Counts)
        throw FrameLeftOut("frame " + std::to_string(frame.frameNumber) + " holds no radiometric counts (" +
                           option + " takes radiometric frames)");
    return picture;
}

#ifdef ZRF_HAVE_TIFF
// What a TIFF page says of its frame: its name, DateTime (to the second) and a description of
// key=value lines with the time to the millisecond and what the time is.
Vorn::Picture::TiffPageText TiffText(const FrameText& text) {
    return {"frame " + text.number, text.tiffDateTime,
            "frame=" + text.number + "\ntime=" + text.time + "\nzone=" + text.times + "\n"};
}
#endif

// --png, --zrf and --sample: a false-colour picture, the ZRF image itself or the sample a
// USB or IEEE-1394 camera sends for it, a file per frame.
class FileEachFrame : public FrameOutput {
  public:
    explicit FileEachFrame(const ExportOptions& o) : o_(o) {}

    void Add(const RecordedFrame& frame) override {
        const std::string path =
            InFolder(o_.output, names_.For(frame.frameNumber, o_.kind == "sample" ? "raw" : o_.kind.c_str()));
        if (o_.kind == "png") {
            if (ZrfPixels pixels; !FindZrfPixels(frame.image, pixels))
                throw FrameLeftOut("frame " + std::to_string(frame.frameNumber) +
                                   " holds no radiometric counts (--png takes radiometric frames)");
            const std::string error = WriteFramePicture(path, "IR", frame.image, o_.palette);
            if (!error.empty()) throw System::IOException(error);
        } else {
            Write(frame, path);
        }
        ++written_;
        lastPath_ = path;
    }

    std::string Finish() override {
        std::string out = Counted(written_, o_.kind == "png" ? "picture" : o_.kind == "zrf" ? "image" : "sample") +
                          " written to " + o_.output + "\n";
        // How to turn a written sample back into the image it came from.
        if (o_.kind == "sample" && written_ > 0)
            out += std::string("decode one with: zrfgrab decode --subtype F7M0 --source ") +
                   (ieee1394_ ? "1394" : "usb") + " --size " + Size(shape_.picture.width, shape_.picture.height) +
                   " --camera-time " + lastPath_ + " image.zrf\n";
        return out;
    }

  private:
    // The ZRF image as it is, or the sample a camera sends for it.
    void Write(const RecordedFrame& frame, const std::string& path) {
        std::span<const std::uint8_t> bytes = frame.image;
        if (o_.kind == "sample") {
            ieee1394_ = ZrfImageView(frame.image).Text(4, 16) == "FW_ZEPHRA";
            if (ieee1394_) {
                WriteIeee1394Sample(frame);
            } else {
                std::string why;
                if (!zrf::sim::MeasureUsbSample(frame.image.data(), frame.image.size(), shape_, why))
                    throw FrameLeftOut("frame " + std::to_string(frame.frameNumber) + " is " + why);
                sample_.resize(shape_.sample_bytes);  // the same size each frame: no new memory
                zrf::sim::WriteUsbSample(frame.image.data(), shape_, sample_.data());
            }
            bytes = sample_;
        }
        Check(Vorn::Picture::WriteWholeFile(path, bytes));
    }

    // An IEEE-1394 camera's sample of one field: its pixels, then its frame information in
    // the camera's byte order. Decoding it as one field gives the image back.
    void WriteIeee1394Sample(const RecordedFrame& frame) {
        const ZrfImageView view(frame.image);
        ZrfPixels pixels;
        const auto info = view.FrameInfoOffset();
        if (!info || !view.Has(*info, Zrf::kFrameInfoSize) || !FindZrfPixels(frame.image, pixels))
            throw FrameLeftOut("frame " + std::to_string(frame.frameNumber) + " is not a whole IEEE-1394 image");
        shape_.picture = {pixels.width, pixels.height};
        const std::size_t pictureBytes = pixels.pixels.size() * 2;
        sample_.resize(pictureBytes + Zrf::kFrameInfoSize);
        CopyPixels(sample_.data(), reinterpret_cast<const std::uint8_t*>(pixels.pixels.data()),
                   pictureBytes, false);
        std::memcpy(sample_.data() + pictureBytes, frame.image.data() + *info, Zrf::kFrameInfoSize);
        SwapFrameInfoBlock(sample_.data() + pictureBytes);
    }

    const ExportOptions& o_;
    FrameNames names_;
    bool ieee1394_ = false;
    zrf::sim::UsbSampleShape shape_;
    std::vector<std::uint8_t> sample_;
    std::uint64_t written_ = 0;
    std::string lastPath_;
};

// --png16, --csv and --tiff DIR: the counts of each frame in a file of its own, with its number
// and time (text chunks, tags, or frames.csv beside the CSV files).
class CountsEachFrame : public FrameOutput {
  public:
    explicit CountsEachFrame(const ExportOptions& o) : o_(o) {}

    void Add(const RecordedFrame& frame) override {
        const ExportPicture picture = CountsOf(frame, Option());
        const FrameText text = TextOf(frame);
        if (o_.kind == "png16") {
            const Vorn::Picture::PngText chunks[] = {{"Frame", text.number},
                                                     {"Creation Time", text.time},
                                                     {"Time Zone", text.times},
                                                     {"Software", "zrfgrab"}};
            Check(Vorn::Picture::WritePngGrey16(InFolder(o_.output, names_.For(frame.frameNumber, "png")),
                                                picture.width, picture.height, picture.counts, chunks));
        } else if (o_.kind == "csv") {
            WriteCsv(frame, picture, text);
        } else {
            WriteTiff(frame, picture, text);
        }
        ++written_;
    }

    std::string Finish() override {
        if (o_.kind == "csv") {
            if (index_) Check(index_->Commit());
            index_.reset();
            return Counted(written_, "CSV file") + (written_ > 0 ? " and frames.csv" : "") + " written to " +
                   o_.output + "\n";
        }
        return Counted(written_, o_.kind == "png16" ? "16-bit PNG file" : "16-bit TIFF file") + " written to " +
               o_.output + "\n";
    }

  private:
    const char* Option() const { return o_.kind == "png16" ? "--png16" : o_.kind == "csv" ? "--csv" : "--tiff"; }

    void WriteCsv(const RecordedFrame& frame, const ExportPicture& picture, const FrameText& text) {
        const std::string name = names_.For(frame.frameNumber, "csv");
        const std::string path = InFolder(o_.output, name);
        if (const std::string problem = Vorn::Picture::OutputPathProblem(path); !problem.empty())
            throw System::IOException("cannot write '" + path + "': " + problem);
        Vorn::Picture::OutputFile out(path);
        if (!out.Stream()) Check(out.Commit());
        // A row at a time, in one buffer for every row of every frame: after the first row, no
        // new memory, and no more of it than a row takes.
        char digits[8];
        const std::uint16_t* p = picture.counts.data();
        errno = 0;
        bool written = true;
        for (int y = 0; y < picture.height && written; ++y) {
            row_.clear();
            for (int x = 0; x < picture.width; ++x, ++p) {
                if (x > 0) row_ += ',';
                const auto end = std::to_chars(digits, digits + sizeof digits, *p).ptr;
                row_.append(digits, end);
            }
            row_ += '\n';
            written = std::fwrite(row_.data(), 1, row_.size(), out.Stream()) == row_.size();
        }
        Check(out.Commit(written ? 0 : errno ? errno : EIO));
        // frames.csv grows a line a frame and is renamed into place at the end.
        if (!index_) {
            index_ = std::make_unique<Vorn::Picture::OutputFile>(InFolder(o_.output, "frames.csv"));
            if (!index_->Stream()) Check(index_->Commit());
            Index("number,time,file,zone\n");
        }
        Index(text.number + "," + text.time + "," + name + "," + text.zone + "\n");
    }

    void Index(const std::string& line) {
        if (std::fputs(line.c_str(), index_->Stream()) < 0) Check(index_->Commit(errno ? errno : EIO));
    }

    void WriteTiff(const RecordedFrame& frame, const ExportPicture& picture, const FrameText& text) {
#ifdef ZRF_HAVE_TIFF
        Vorn::Picture::TiffWriter tiff(InFolder(o_.output, names_.For(frame.frameNumber, "tif")), false);
        Check(tiff.AddPage(picture.width, picture.height, picture.counts, TiffText(text), false));
        Check(tiff.Commit());
#else
        throw System::IOException("this build writes no TIFF");
#endif
    }

    const ExportOptions& o_;
    FrameNames names_;
    std::uint64_t written_ = 0;
    std::string row_;
    std::unique_ptr<Vorn::Picture::OutputFile> index_;
};

// A stack or a video: one file per run of frames of equal size. The first run takes the path
// given; once a second run begins, every run's file is numbered (NAME-1.EXT, NAME-2.EXT, ...).
template <class Writer>
class SplitOutput : public FrameOutput {
  public:
    SplitOutput(const ExportOptions& o, Note note) : o_(o), note_(std::move(note)) {}

    std::string Finish() override {
        if (writer_) CommitRun();
        // Split, the file named was to be replaced and none takes its name: an older one there
        // would pass for this export's.
        if (runs_ > 1) RemoveReplaced();
        if (runs_ == 1) return Counted(frames_, "frame") + " written to " + o_.output + " (" + lastLine_ + ")\n";
        return Counted(frames_, "frame") + " written to " + std::to_string(runs_) +
               " files, one per run of equal frame size (the size changes within the recording):\n" + summary_;
    }

  protected:
    struct Shape {
        ExportPicture::Kind kind = ExportPicture::Kind::Other;
        int width = 0;
        int height = 0;
        bool operator==(const Shape&) const = default;
    };

    virtual std::unique_ptr<Writer> Make(const std::string& path) = 0;
    virtual void Begin(Writer&, const Shape&, const RecordedFrame&) {}

    // The writer of the frame's run: a new one when its shape is not the current run's.
    Writer& RunFor(const Shape& shape, const RecordedFrame& frame) {
        if (!writer_ || !(shape == shape_)) {
            // Numbered files are decided only now: none may be the recording read.
            for (const int run : {1, runs_ + 1})
                if (writer_ && SameFile(NumberedRunPath(o_.output, run), o_.recording))
                    throw System::IOException("the split output's " + NumberedRunPath(o_.output, run) +
                                              " would be the recording itself; name another file");
            if (writer_) {
                if (runs_ == 1) writer_->SetPath(NumberedRunPath(o_.output, 1));
                note_("zrfgrab export: the frame size changes at frame " + std::to_string(frame.frameNumber) + " (" +
                      Size(shape_.width, shape_.height) + " to " + Size(shape.width, shape.height) +
                      "): the output is split, " + NumberedRunPath(o_.output, runs_ + 1) + " begins");
                CommitRun();
            }
            ++runs_;
            writer_ = Make(o_.output);
            if (runs_ > 1) writer_->SetPath(NumberedRunPath(o_.output, runs_));
            shape_ = shape;
            runFirst_ = frame.frameNumber;
            runFrames_ = 0;
            Begin(*writer_, shape, frame);
        }
        runLast_ = frame.frameNumber;
        ++runFrames_;
        ++frames_;
        return *writer_;
    }

    const ExportOptions& o_;

  private:
    void RemoveReplaced() {
        if (Vorn::Picture::OutputPathProblem(o_.output).empty() && std::filesystem::exists(o_.output) &&
            std::remove(o_.output.c_str()) != 0)
            throw System::IOException("cannot remove the older '" + o_.output + "' the split export replaces: " +
                                      std::strerror(errno));
    }

    void CommitRun() {
        const std::string path = writer_->Path();
        Check(writer_->Commit());
        writer_.reset();
        lastLine_ = "#" + std::to_string(runFirst_) + " to #" + std::to_string(runLast_) + ", " +
                    Size(shape_.width, shape_.height);
        summary_ += "  " + path + "  " + Counted(runFrames_, "frame") + ", " + lastLine_ + "\n";
    }

    Note note_;
    std::unique_ptr<Writer> writer_;
    Shape shape_;
    int runs_ = 0;
    std::uint64_t frames_ = 0, runFrames_ = 0, runFirst_ = 0, runLast_ = 0;
    std::string summary_, lastLine_;
};

#ifdef ZRF_HAVE_TIFF
// --tiff FILE.tif: a multi-page TIFF, a page per frame.
class TiffStack : public SplitOutput<Vorn::Picture::TiffWriter> {
  public:
    using SplitOutput::SplitOutput;

    void Add(const RecordedFrame& frame) override {
        const ExportPicture picture = CountsOf(frame, "--tiff");
        auto& tiff = RunFor({picture.kind, picture.width, picture.height}, frame);
        Check(tiff.AddPage(picture.width, picture.height, picture.counts, TiffText(TextOf(frame)), true));
    }

  private:
    std::unique_ptr<Vorn::Picture::TiffWriter> Make(const std::string& path) override {
        return std::make_unique<Vorn::Picture::TiffWriter>(path, o_.bigTiff);
    }
};
#endif

#ifdef ZRF_HAVE_VIDEO
// --video FILE.mkv: lossless video whose times are the frames' own.
class VideoOutput : public SplitOutput<Vorn::Picture::VideoWriter> {
  public:
    VideoOutput(const ExportOptions& o, Note note) : SplitOutput(o, note), note_(std::move(note)) {}

    void Add(const RecordedFrame& frame) override {
        const ExportPicture picture = ReadExportPicture(frame.image);
        if (picture.kind == ExportPicture::Kind::Other)
            throw FrameLeftOut("frame " + std::to_string(frame.frameNumber) +
                               " is neither radiometric nor a YUY2 or I420 picture");
        auto& video = RunFor({picture.kind, picture.width, picture.height}, frame);
        // Times are kept to the millisecond and must go forward: a stamp not later than the
        // one before is shown a millisecond after it, the frames after it keeping their spacing,
        // and said so.
        const std::uint64_t movedBefore = Moved();
        const std::int64_t at = times_.Next(TicksToUnixMilliseconds(frame.ticks) - firstMilliseconds_);
        if (Moved() > movedBefore && movedBefore == 0)
            note_("zrfgrab export: frame " + std::to_string(frame.frameNumber) +
                  "'s time stamp is not later than the one before; it and the frames after it are shown "
                  "from 1 ms after that one");
        const FrameText text = TextOf(frame);
        const std::span<const std::uint8_t> bytes =
            picture.kind == ExportPicture::Kind::Counts
                ? std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(picture.counts.data()),
                                                picture.counts.size() * 2)
                : picture.visual;
        Check(video.Add(bytes, at, "frame " + text.number + "  " + text.time));
    }

    std::string Finish() override {
        std::string out = SplitOutput::Finish();
        if (Moved() > 0)
            out += Counted(Moved(), "step") + " back in the time stamps: the frames from " +
                   (Moved() == 1 ? "it" : "each") + " on are shown from 1 ms after the frame before\n";
        return out;
    }

  private:
    std::unique_ptr<Vorn::Picture::VideoWriter> Make(const std::string& path) override {
        return std::make_unique<Vorn::Picture::VideoWriter>(path);
    }

    void Begin(Vorn::Picture::VideoWriter& video, const Shape& shape, const RecordedFrame& frame) override {
        using Vorn::Picture::VideoLayout;
        firstMilliseconds_ = TicksToUnixMilliseconds(frame.ticks);
        // Each video starts its own times.
        movedInEarlierVideos_ += times_.Moved();
        times_ = IncreasingTimes();
        const FrameText text = TextOf(frame);
        // The start, as the frames' own times are: the capturing host's local time.
        const std::pair<std::string, std::string> tags[] = {
            {"DATE_RECORDED", text.time}, {"TIME_ZONE", text.times}, {"FIRST_FRAME", text.number}};
        const VideoLayout layout = shape.kind == ExportPicture::Kind::Counts ? VideoLayout::Grey16
                                   : shape.kind == ExportPicture::Kind::Yuy2 ? VideoLayout::Yuy2
                                                                             : VideoLayout::I420;
        Check(video.Start(layout, shape.width, shape.height, tags));
    }

    std::uint64_t Moved() const { return movedInEarlierVideos_ + times_.Moved(); }

    Note note_;
    std::int64_t firstMilliseconds_ = 0;
    IncreasingTimes times_;
    std::uint64_t movedInEarlierVideos_ = 0;
};
#endif

}  // namespace

ExportPicture ReadExportPicture(std::span<const std::uint8_t> image) {
    ExportPicture picture;
    ZrfPixels pixels;
    if (FindZrfPixels(image, pixels)) {
        picture.kind = ExportPicture::Kind::Counts;
        picture.width = pixels.width;
        picture.height = pixels.height;
        picture.counts = pixels.pixels;
        return picture;
    }
    if (image.size() < sizeof(VisualFrameHeader)) return picture;
    VisualFrameHeader header;
    std::memcpy(&header, image.data(), sizeof header);
    const bool yuy2 = std::memcmp(header.fourCc, "YUY2", 4) == 0;
    const bool i420 = std::memcmp(header.fourCc, "I420", 4) == 0;
    if ((!yuy2 && !i420) || header.width <= 0 || header.height <= 0 || header.width > 65535 ||
        header.height > 65535 || (yuy2 && header.width % 2 != 0))
        return picture;
    const std::size_t w = static_cast<std::size_t>(header.width), h = static_cast<std::size_t>(header.height);
    const std::size_t bytes = yuy2 ? w * h * 2 : w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
    if (bytes > image.size() - sizeof header) return picture;
    picture.kind = yuy2 ? ExportPicture::Kind::Yuy2 : ExportPicture::Kind::I420;
    picture.width = header.width;
    picture.height = header.height;
    picture.visual = image.subspan(sizeof header, bytes);
    return picture;
}

FrameText TextOf(const RecordedFrame& frame) {
    const std::optional<int> zone = ImageZoneMinutes(frame.image);
    return {std::to_string(frame.frameNumber), FrameTimeText(frame.ticks), zone ? ZoneText(*zone) : "",
            TimesText(std::span(&zone, 1)), TiffDateTimeText(frame.ticks)};
}

std::string FrameNames::For(std::uint64_t number, const char* extension) {
    int seen = 0;
    // Numbers go up in a recording as it should be: only one at or below the highest can repeat.
    if (any_ && number <= highest_) {
        auto it = used_.lower_bound({number, 0});
        while (it != used_.end() && it->first == number) seen = (it++)->second;
    }
    used_.insert({number, seen + 1});
    highest_ = any_ ? std::max(highest_, number) : number;
    any_ = true;
    const std::string name = FrameName(number, extension);
    if (seen == 0) return name;
    const auto dot = name.rfind('.');
    return name.substr(0, dot) + "-" + std::to_string(seen + 1) + name.substr(dot);
}

std::string NumberedRunPath(const std::string& path, int run) {
    const std::filesystem::path p(path);
    return (p.parent_path() / (p.stem().string() + "-" + std::to_string(run) + p.extension().string())).string();
}

std::unique_ptr<FrameOutput> MakeFrameOutput(const ExportOptions& o, Note note) {
    if (o.kind == "png16" || o.kind == "csv" || o.kind == "tiff") return std::make_unique<CountsEachFrame>(o);
#ifdef ZRF_HAVE_TIFF
    if (o.kind == "tiff-stack") return std::make_unique<TiffStack>(o, std::move(note));
#endif
#ifdef ZRF_HAVE_VIDEO
    if (o.kind == "video") return std::make_unique<VideoOutput>(o, std::move(note));
#endif
    if (o.kind == "png" || o.kind == "zrf" || o.kind == "sample") return std::make_unique<FileEachFrame>(o);
    throw UsageError("this build of zrfgrab cannot export --" + o.kind);
}

}  // namespace zrfgrab
