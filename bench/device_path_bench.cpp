// The whole device path per image, from a sample handed to the grabber callback to an empty
// Completed handler returning, for every format, with the recorder idle and recording; against a
// memcpy of the image (a bare JPEG-LS decode for that format); and the recorder, called as the
// device calls it, against a plain sequential write of the same bytes with the same calls it
// makes (a 32-byte record header, then the image; no fsync). Recordings go to a temporary
// folder on the file system of ZRF_BENCH_DIR (default the system's temporary folder), restarted
// every few hundred images so the run writes a bounded amount; both sides restart alike.
//
// The device's time is the CPU time of the camera's streaming thread, which runs the whole path
// (the camera's own share is a pointer handed on: its samples are prepared once); the baselines'
// is the CPU time of the benchmark thread. Recording, the streaming thread only hands each image
// to the recorder's queue; its writing thread's time is in BM_Recorder, which counts the
// process's CPU and waits for the file at the end of each turn. A path and its baseline take turns of a few
// milliseconds on one processor, so a change of the machine's pace falls on both; the ratio is
// the median of the turns' ratios (of several repetitions). The ratios are printed at the end as
// "ratio: KEY VALUE".
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/device_rig.h"
#include "bench/turns.h"
#include "host/recorder/recording_format.h"
#include "host/recorder/zrf_recorder.h"
#include "imaging/jpegls_codec.h"
#include "imaging/zrf_records.h"

namespace {

using DeviceBench::DeviceFormat;
using DeviceBench::DeviceRig;
namespace Xml = DeviceBench::Xml;
namespace Rec = Vorn::Zephra::Net::Devices::Recorder;

constexpr int kImagesPerIteration = 100;
// A recording (or plain file) is started anew after this many images: about 120 MB of USB raw.
constexpr long kImagesPerFile = 200;
constexpr int kRepetitions = 7;

std::string RecordFolder() {
    static const std::string folder = [] {
        const char* base = std::getenv("ZRF_BENCH_DIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/device-bench.XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror("device_path_bench: cannot make the recording folder");
            std::exit(1);
        }
        return pattern;
    }();
    return folder;
}

// One connected device per format for the whole run: connecting is not what is measured.
std::map<std::string, std::unique_ptr<DeviceRig>>& Rigs() {
    static std::map<std::string, std::unique_ptr<DeviceRig>> rigs;
    return rigs;
}
DeviceRig& RigFor(const DeviceFormat& format) {
    auto& rig = Rigs()[format.name];
    if (!rig) rig = std::make_unique<DeviceRig>(format, RecordFolder() + "/" + format.name);
    return *rig;
}
// The image size each format delivered, for its baselines.
std::map<std::string, std::size_t> g_imageBytes;

// A turn lasts about this long: long enough that waking the streaming thread once per turn is
// lost in it, short enough for hundreds of turns.
constexpr double kTurnSeconds = 0.003;

double ThreadCpu() { return DeviceBench::ThreadClockSeconds(CLOCK_THREAD_CPUTIME_ID); }
// The recorder writes on a thread of its own: its cost is the process's, nothing else running.
double ProcessCpu() { return DeviceBench::ThreadClockSeconds(CLOCK_PROCESS_CPUTIME_ID); }

// What the device path is measured against, on the benchmark's thread: a memcpy of the image,
// or for JPEG-LS the bare decode of the camera's sample. A camera that sends its picture in
// several fields sends them in one sample, and the device copies each image from its own part
// of it: the memcpy takes its images from the parts of as large a buffer in turn, so both read
// the same amount of memory that has not just been read.
class Baseline {
  public:
    Baseline(const DeviceFormat& format, std::size_t imageBytes)
        : jpegLs_(format.samples == DeviceBench::SampleKind::UsbJpegLs),
          parts_(static_cast<std::size_t>(std::max(format.fields, 1))),
          imageBytes_(imageBytes),
          stride_((imageBytes + 4095) / 4096 * 4096),
          source_(format.samples, format.picture, 1),
          src_(stride_ * parts_, 1),
          dst_(std::max(imageBytes, static_cast<std::size_t>(format.picture.width) *
                                        format.picture.height * 2),
               0) {}
    bool Ok() const { return src_.data() != nullptr && dst_.data() != nullptr; }

    // `images` of them; false when a decode failed.
    bool Run(long images) {
        bool ok = true;
        for (long i = 0; i < images; ++i) ok &= jpegLs_ ? DecodeOnce() : CopyOnce();
        return ok;
    }

  private:
    bool CopyOnce() {
        part_ = (part_ + 1) % parts_;
        std::memcpy(dst_.data(), src_.data() + part_ * stride_, imageBytes_);
        benchmark::DoNotOptimize(dst_.data());
        benchmark::ClobberMemory();
        return true;
    }
    bool DecodeOnce() {
        const auto& sample = source_.Samples().front();
        const std::uint32_t length = Zrf::LoadBigEndian32(sample.data());
        JlsParameters params;
        const bool ok = ReadJpegLsHeader(sample.data() + 4, length, params) &&
                        DecodeJpegLs(dst_.data(), dst_.size(), sample.data() + 4, length, params);
        benchmark::ClobberMemory();
        return ok;
    }

    const bool jpegLs_;
    const std::size_t parts_;
    const std::size_t imageBytes_;
    const std::size_t stride_;  // the parts start on pages
    std::size_t part_ = 0;
    const CaptureBench::CameraSampleSource source_;
    // Page to page: where a C library's copy is at its best (see CopyPixels).
    BenchTurns::PageBuffer src_, dst_;
};

// The device, idle or recording, in turns with its baseline: a few milliseconds of images
// through the device (its streaming thread let through the handler's gate) and as many of the
// baseline on this thread; which goes first alternates. A recording starts a new file every
// kImagesPerFile images, between turns. The iteration's time is the device's; the counters hold
// the median of the turns' ratios and the median times per image.
void DeviceInTurns(benchmark::State& state, DeviceRig& rig, bool record) {
    Baseline baseline(rig.Format(), rig.ImageBytes());
    if (!baseline.Ok()) {
        rig.Stop();
        return state.SkipWithError("no memory for the baseline");
    }
    long images = 1;
    bool ok = true;
    const auto base = [&] {
        const double start = ThreadCpu();
        ok &= baseline.Run(images);
        return ThreadCpu() - start;
    };
    long passed = 0;
    const auto device = [&] {
        const double start = rig.StreamingCpuSeconds();
        passed = rig.Stream(images);
        return rig.StreamingCpuSeconds() - start;
    };
    rig.Gate();
    rig.Stream(4);  // the image in flight when the gate closed, and a few to settle
    images = static_cast<long>(std::clamp(kTurnSeconds / std::max(base(), 1e-7), 4.0, 1000.0));
    std::vector<double> ratios, deviceTimes, baseTimes;
    long turn = 0;
    long sinceRestart = 0;
    for (auto _ : state) {
        if (record && sinceRestart >= kImagesPerFile) {
            rig.RestartRecording();
            sinceRestart = 0;
        }
        const auto [d, b] = BenchTurns::TakeTurns(turn, device, base);
        if (passed != images) {
            rig.Stop();
            return state.SkipWithError("the stream stalled");
        }
        sinceRestart += images;
        // A turn is an iteration: a slow format (JPEG-LS, a few ms an image) gets as many turns
        // for its median as a fast one, not the two or three that 100 of its images would allow.
        state.SetIterationTime(d);
        if (b > 0) ratios.push_back(d / b);
        deviceTimes.push_back(d / static_cast<double>(images) * 1e6);
        baseTimes.push_back(b / static_cast<double>(images) * 1e6);
    }
    rig.Stop();
    if (!ok) return state.SkipWithError("the baseline's decode failed");
    state.counters["vs_base"] = BenchTurns::Median(ratios);
    state.counters["device_us"] = BenchTurns::Median(deviceTimes);
    state.counters["base_us"] = BenchTurns::Median(baseTimes);
    state.counters["images_per_turn"] = static_cast<double>(images);
    state.SetItemsProcessed(state.iterations() * images);
}

void BM_Device(benchmark::State& state, const DeviceFormat& format, bool record) {
    if (record) std::filesystem::create_directories(RecordFolder() + "/" + format.name);
    DeviceRig& rig = RigFor(format);
    if (!rig.Start(record)) return state.SkipWithError("no image arrived");
    g_imageBytes[format.name] = rig.ImageBytes();
    DeviceInTurns(state, rig, record);
    state.counters["image_bytes"] = static_cast<double>(rig.ImageBytes());
}

// What the recorder writes per image, without it: a 32-byte record header, then the image.
class PlainWriter {
  public:
    explicit PlainWriter(std::string folder) : folder_(std::move(folder)) { Open(); }
    ~PlainWriter() { Close(); }
    PlainWriter(const PlainWriter&) = delete;
    PlainWriter& operator=(const PlainWriter&) = delete;

    bool Append(const std::uint8_t* image, std::size_t bytes) {
        Rec::FrameRecordHeader record{};
        record.magic = Rec::kFrameRecordMagic;
        record.length = static_cast<std::uint32_t>(bytes);
        return WriteAll(&record, sizeof record) && WriteAll(image, bytes);
    }
    void Restart() {
        Close();
        Open();
    }
    // Until the bytes written are on the disk, as the recorder's are once it is flushed.
    bool Sync() { return ::fdatasync(fd_) == 0; }

  private:
    void Open() {
        path_ = folder_ + "/plain-" + std::to_string(++files_) + ".bin";
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        Rec::RecordingFileHeader header{};
        WriteAll(&header, sizeof header);
    }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        ::unlink(path_.c_str());
    }
    bool WriteAll(const void* data, std::size_t size) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        while (size > 0) {
            const ssize_t n = ::write(fd_, p, size);
            if (n <= 0) return false;
            p += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

    const std::string folder_;
    std::string path_;
    int fd_ = -1;
    int files_ = 0;
};

// The recorder alone, called as the device calls it for each image (under its lock, its image
// size checked, the image added with its time), and the plain write of the same bytes, in turns
// of kImagesPerIteration images each, so both meet the same state of the machine and of the
// disk. Each writes a new file every kImagesPerFile images. A turn ends when its bytes are on the
// disk: the recorder flushed (it writes around the page cache), the plain write followed by
// fdatasync; the plain write's time before fdatasync (its bytes only in the page cache) is kept
// too. The iteration's time is the recorder's CPU time; the counters hold the ratios of the sums
// of CPU and of wall time, and the write's median CPU time per image.
void BM_Recorder(benchmark::State& state, const DeviceFormat& format) {
    std::size_t& bytes = g_imageBytes[format.name];
    if (bytes == 0) {  // run alone (a profile of it): the device's first image sizes it
        DeviceRig& rig = RigFor(format);
        if (rig.Start(false)) bytes = rig.ImageBytes();
        rig.Stop();
    }
    if (bytes == 0) return state.SkipWithError("the device delivered nothing to size it");
    const std::string folder = RecordFolder() + "/" + format.name + "/recorder";
    const std::string plainFolder = RecordFolder() + "/" + format.name + "/plain";
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(plainFolder);
    const std::vector<std::uint8_t> image(bytes, 7);
    Rec::ZRFRecorder recorder;
    recorder.SetImageSize(static_cast<std::int32_t>(bytes));
    Xml::RecorderXml settings;
    settings.SetPath(folder + "/");
    settings.SetWaitForDisk(true);  // every image written, as the plain write writes them
    recorder.Setup(settings.XMLData());
    const auto restart = [&] {
        recorder.Stop(0);
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
            std::filesystem::remove(entry.path(), ec);
        recorder.Start(0);
    };
    restart();
    PlainWriter plain(plainFolder);
    long sinceRestart = 0;
    bool written = true;
    std::int64_t ticks = 638000000000000000;
    std::vector<double> writes, callers;
    double recordedCpu = 0, writeCpu = 0, recordedWall = 0, writeWall = 0, cachedWall = 0;
    long turn = 0;
    const auto wall = [] { return DeviceBench::ThreadClockSeconds(CLOCK_MONOTONIC); };
    for (auto _ : state) {
        if (sinceRestart >= kImagesPerFile) {
            restart();
            plain.Restart();
            sinceRestart = 0;
        }
        double recordWall = 0, plainWall = 0, plainCached = 0;
        const auto record = [&] {
            const double cpu = ProcessCpu(), start = wall();
            double caller = 0;
            for (int i = 0; i < kImagesPerIteration; ++i) {
                const double adding = ThreadCpu();
                std::lock_guard lock(recorder.SyncRoot());
                if (recorder.GetImageSize() != static_cast<std::int32_t>(bytes)) break;
                recorder.AddImage(image, 0, ticks += 333333);
                caller += ThreadCpu() - adding;
            }
            recorder.Flush();
            recordWall = wall() - start;
            callers.push_back(caller / kImagesPerIteration * 1e6);
            return ProcessCpu() - cpu;
        };
        const auto writePlain = [&] {
            const double cpu = ProcessCpu(), start = wall();
            for (int i = 0; i < kImagesPerIteration; ++i) written &= plain.Append(image.data(), bytes);
            plainCached = wall() - start;
            written &= plain.Sync();
            plainWall = wall() - start;
            return ProcessCpu() - cpu;
        };
        // Each goes first in every other turn: the one after meets the disk the first left.
        const auto [recorded, write] = BenchTurns::TakeTurns(turn, record, writePlain);
        state.SetIterationTime(recorded);
        recordedCpu += recorded;
        writeCpu += write;
        recordedWall += recordWall;
        writeWall += plainWall;
        cachedWall += plainCached;
        writes.push_back(write / kImagesPerIteration * 1e6);
        sinceRestart += kImagesPerIteration;
    }
    const bool recording = recorder.IsRecording();
    const auto block = static_cast<double>(recorder.WriteBlock());
    recorder.Dispose();
    if (!recording || !written) return state.SkipWithError("a recording stopped");
    state.counters["vs_write"] = writeCpu > 0 ? recordedCpu / writeCpu : 0.0;
    state.counters["wall_vs_write"] = writeWall > 0 ? recordedWall / writeWall : 0.0;
    state.counters["wall_vs_cached"] = cachedWall > 0 ? recordedWall / cachedWall : 0.0;
    state.counters["write_us"] = BenchTurns::Median(writes);
    state.counters["caller_us"] = BenchTurns::Median(callers);  // the camera's thread's share
    state.counters["block"] = block;
}

// The median time per image of each benchmark's repetitions.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median" &&
                !r.error_occurred) {
                for (const auto& [counter, value] : r.counters)
                    counters_[r.run_name.function_name + ":" + counter] = value.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatios() const {
        std::printf("\nper image (CPU time, us): device path, baseline, and the median of the "
                    "ratios of their turns (median of %d repetitions)\n",
                    kRepetitions);
        for (const DeviceFormat& f : DeviceBench::kDeviceFormats) {
            const std::string name = f.name;
            const std::string idle = "BM_Device/" + name + "/idle:";
            const double ratio = CounterValue(idle + "vs_base");
            const double base = CounterValue(idle + "base_us");
            const double device = ratio > 0 ? base * ratio : -1;
            if (f.samples == DeviceBench::SampleKind::UsbJpegLs)
                Ratio(name + " / bare JPEG-LS decode", "device_path_" + name + "_vs_bare_decode",
                      device, base, 1.05);
            else
                Ratio(name + " / memcpy of the image", "device_path_" + name + "_vs_memcpy",
                      device, base, 1.5);
        }
        std::printf("\nthe device path recording, against idle (both on the streaming thread, in "
                    "turns with the same baseline):\n");
        for (const DeviceFormat& f : DeviceBench::kDeviceFormats) {
            if (!f.radiometric) continue;
            const std::string name = f.name;
            // Each against its own baseline's turns, so a change of the machine's pace between
            // the two runs cancels out.
            const double recording = CounterValue("BM_Device/" + name + "/recording:vs_base");
            const double idle = CounterValue("BM_Device/" + name + "/idle:vs_base");
            const double base = CounterValue("BM_Device/" + name + "/idle:base_us");
            Ratio(name + " recording / idle", "", recording > 0 ? recording * base : -1,
                  idle > 0 ? idle * base : -1, 0);
        }
        std::printf("\nthe recorder per image against a plain buffered write of the same bytes, in turns "
                    "(the ratio of their sums over the turns); CPU time:\n");
        for (const DeviceFormat& f : DeviceBench::kDeviceFormats) {
            if (!f.radiometric) continue;
            const std::string name = f.name;
            const double ratio = CounterValue("BM_Recorder/" + name + ":vs_write");
            const double write = CounterValue("BM_Recorder/" + name + ":write_us");
            Ratio(name + " recorder / plain write", "recorder_" + name + "_vs_write",
                  ratio > 0 ? write * ratio : -1, write, 0.8);
        }
        std::printf("wall time until the bytes are on the disk (the recorder flushed, the plain "
                    "write and fdatasync); ratios only:\n");
        for (const DeviceFormat& f : DeviceBench::kDeviceFormats) {
            if (!f.radiometric) continue;
            const std::string name = f.name;
            Ratio(name + " recorder / plain write", "recorder_" + name + "_wall_vs_write",
                  CounterValue("BM_Recorder/" + name + ":wall_vs_write"), 1, 1.1);
        }
        std::printf("wall time against the plain write's without fdatasync (its bytes only in the "
                    "page cache when it returns); ratios only:\n");
        for (const DeviceFormat& f : DeviceBench::kDeviceFormats) {
            if (!f.radiometric) continue;
            const std::string name = f.name;
            Ratio(name + " recorder / page-cache write", "recorder_" + name + "_wall_vs_cached_write",
                  CounterValue("BM_Recorder/" + name + ":wall_vs_cached"), 1, 0);
        }
        std::printf("\nof which the thread adding the images (the camera's) pays, per image:\n");
        for (const DeviceFormat& f : DeviceBench::kDeviceFormats) {
            if (!f.radiometric) continue;
            const std::string name = f.name;
            std::printf("  %-40s %8.1f us (the write: %.1f us; the recorder's blocks: %.0f bytes)\n",
                        name.c_str(), CounterValue("BM_Recorder/" + name + ":caller_us"),
                        CounterValue("BM_Recorder/" + name + ":write_us"),
                        CounterValue("BM_Recorder/" + name + ":block"));
        }
    }

  private:
    static void Ratio(const std::string& label, const std::string& key, double path, double base,
                      double goal) {
        if (path <= 0 || base <= 0) {
            std::printf("  %-40s n/a\n", label.c_str());
            return;
        }
        const double ratio = path / base;
        std::printf("  %-40s %10.2f %10.2f %7.3f", label.c_str(), path, base, ratio);
        if (goal > 0) std::printf("  (goal <= %.2f: %s)", goal, ratio <= goal ? "met" : "NOT met");
        std::printf("\n");
        if (!key.empty()) std::printf("ratio: %s %.4f\n", key.c_str(), ratio);
    }
    double CounterValue(const std::string& name) const {
        const auto it = counters_.find(name);
        return it == counters_.end() ? -1 : it->second;
    }
    std::map<std::string, double> counters_;
};

template <class F>
void Register(const std::string& name, F body) {
    benchmark::RegisterBenchmark(name.c_str(), body)
        ->UseManualTime()
        ->Repetitions(kRepetitions)
        ->ReportAggregatesOnly(true)
        ->Unit(benchmark::kMicrosecond);
}

}  // namespace

int main(int argc, char** argv) {
    // The device and its baseline take turns on one processor, so both meet its same state.
    CaptureBench::StayOnOneProcessor();
    // The device runs first: its images give the baselines their sizes.
    for (const DeviceFormat& f : DeviceBench::kDeviceFormats) {
        const std::string name = f.name;
        Register("BM_Device/" + name + "/idle",
                 [&f](benchmark::State& s) { BM_Device(s, f, false); });
        if (f.radiometric)
            Register("BM_Device/" + name + "/recording",
                     [&f](benchmark::State& s) { BM_Device(s, f, true); });
    }
    for (const DeviceFormat& f : DeviceBench::kDeviceFormats) {
        const std::string name = f.name;
        if (f.radiometric)
            Register("BM_Recorder/" + name, [&f](benchmark::State& s) { BM_Recorder(s, f); });
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    Rigs().clear();
    std::error_code ec;
    std::filesystem::remove_all(RecordFolder(), ec);
    return 0;
}
