// Cost of each decode path for one 640 x 480 frame, against its natural baseline: a memcpy of
// the pixel bytes for the copying paths, a bare codec decode for the JPEG-LS path. A path and
// its baseline take turns of a few milliseconds each (which goes first alternates), timed by the
// thread's CPU clock, so both meet the same state of the machine; a ratio is the median of the
// turns' ratios, printed at the end of the run. And a frame's copy wherever its two buffers lie
// against the copy between page-aligned buffers.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/turns.h"
#include "imaging/img_src_stream.h"
#include "imaging/jpegls_codec.h"
#include "imaging/media_subtypes.h"
#include "support/copy/pixel_copy.h"
#include "imaging/zrf_records.h"
#include "sim/samples/camera_samples.h"
#include "sim/samples/thermal_scene.h"

namespace {

constexpr ImageSize kSize{640, 480};
constexpr std::size_t kPixelBytes = 640 * 480 * 2;

const std::vector<std::uint16_t>& Picture() {
    static const std::vector<std::uint16_t> picture = [] {
        std::vector<std::uint16_t> p(640 * 480);
        zrf::sim::ThermalScene(kSize, 42).Render(10, p.data());
        return p;
    }();
    return picture;
}

struct Decoding {
    ImgSrcStream* stream = nullptr;
    std::uint8_t* out = nullptr;
    bool ok = true;
};
Decoding g_decoding;

void DecodeField0() {
    const std::int32_t size = g_decoding.stream->GetImageBufferSize();
    g_decoding.ok &=
        size > 0 && g_decoding.stream->DecodeImage(0, g_decoding.out) == DecodeResult::Ok;
}

// A sample decoded through the stream, as the device's callback decodes it.
class StreamPath {
  public:
    StreamPath(const GUID& subtype, SourceKind kind, std::vector<std::uint8_t> sample)
        : sample_(std::move(sample)) {
        stream_.SetSourceKind(kind);
        stream_.SetSubtype(subtype);
        stream_.SetFrameRate(30.0f);
        g_decoding = Decoding{&stream_, out_.data(), true};
        stream_.SetNewImageCallback(&DecodeField0);
    }
    ~StreamPath() { stream_.SetNewImageCallback(nullptr); }
    StreamPath(const StreamPath&) = delete;
    StreamPath& operator=(const StreamPath&) = delete;
    void Once() {
        stream_.OnNewSample(sample_.data(), static_cast<std::int32_t>(sample_.size()), kSize);
        benchmark::ClobberMemory();
    }
    bool Ok() const { return g_decoding.ok; }

  private:
    ImgSrcStream stream_;
    std::vector<std::uint8_t> sample_;
    std::vector<std::uint8_t> out_ = std::vector<std::uint8_t>(kPixelBytes + 16384);
};

// The baseline of the copying paths.
class Memcpy {
  public:
    void Once() {
        std::memcpy(dst_.data(), src_.data(), kPixelBytes);
        benchmark::DoNotOptimize(dst_.data());
        benchmark::ClobberMemory();
    }

  private:
    // Page to page: where the C library's copy is at its best, wherever the allocator would
    // have put two vectors.
    BenchTurns::PageBuffer src_{kPixelBytes, 1};
    BenchTurns::PageBuffer dst_{kPixelBytes, 0};
};

using BenchTurns::Median;
double ThreadCpu() { return BenchTurns::ClockSeconds(CLOCK_THREAD_CPUTIME_ID); }

// Each iteration is a turn of the path and a turn of its baseline, about 2 ms each. The
// iteration's time is the path's turn; the counters hold the median ratio and the median times
// per call of both.
template <class Path, class Base>
void Paired(benchmark::State& state, Path& path, Base& base) {
    const auto timed = [](auto& what, int calls) {
        const double start = ThreadCpu();
        for (int i = 0; i < calls; ++i) what.Once();
        return ThreadCpu() - start;
    };
    // Warm, then size the turns.
    const double once = std::max(timed(path, 2) / 2, 1e-7);
    const int calls = static_cast<int>(std::clamp(0.002 / once, 1.0, 10000.0));
    std::vector<double> ratios, pathTimes, baseTimes;
    long turn = 0;
    for (auto _ : state) {
        const auto [p, b] =
            BenchTurns::TakeTurns(turn, [&] { return timed(path, calls); }, [&] { return timed(base, calls); });
        state.SetIterationTime(p);
        if (b > 0) ratios.push_back(p / b);
        pathTimes.push_back(p / calls * 1e6);
        baseTimes.push_back(b / calls * 1e6);
    }
    state.counters["vs_base"] = Median(ratios);
    state.counters["path_us"] = Median(pathTimes);
    state.counters["base_us"] = Median(baseTimes);
}

void PairedWithMemcpy(benchmark::State& state, StreamPath& path) {
    Memcpy base;
    Paired(state, path, base);
    if (!path.Ok()) state.SkipWithError("decode failed");
}

zrf::sim::SampleSettings Settings(std::uint16_t byteOrder = 2) {
    zrf::sim::SampleSettings s;
    s.size = kSize;
    s.pixelByteOrder = byteOrder;
    return s;
}

std::vector<std::uint8_t> UsbRawSample(std::uint16_t byteOrder) {
    std::vector<std::uint8_t> sample;
    zrf::sim::BuildUsbRawSample(Picture().data(), Settings(byteOrder), sample);
    return sample;
}

void BM_UsbRaw(benchmark::State& state) {
    StreamPath path(kSubtypeF7M0, SourceKind::Usb, UsbRawSample(2));
    PairedWithMemcpy(state, path);
}

void BM_UsbRawSwapped(benchmark::State& state) {
    StreamPath path(kSubtypeF7M0, SourceKind::Usb, UsbRawSample(Zrf::kPixelsSwapped));
    PairedWithMemcpy(state, path);
}

void BM_Ieee1394(benchmark::State& state) {
    std::vector<std::uint8_t> sample;
    zrf::sim::BuildIeee1394Sample(Picture().data(), Settings(), sample);
    StreamPath path(kSubtypeF7M2, SourceKind::Ieee1394, std::move(sample));
    PairedWithMemcpy(state, path);
}

void BM_Yuy2(benchmark::State& state) {
    std::vector<std::uint8_t> sample;
    zrf::sim::BuildYuy2Sample(Picture().data(), Settings(), sample);
    StreamPath path(kSubtypeYUY2, SourceKind::Usb, std::move(sample));
    PairedWithMemcpy(state, path);
}

// The codec alone on the same sample: the baseline of the JPEG-LS path.
class JpegLsBare {
  public:
    explicit JpegLsBare(const std::vector<std::uint8_t>& sample) : sample_(sample) {}
    void Once() {
        const std::uint32_t length = Zrf::LoadBigEndian32(sample_.data());
        JlsParameters params;
        ok_ &= length <= sample_.size() - 4 && ReadJpegLsHeader(sample_.data() + 4, length, params) &&
               DecodeJpegLs(out_.data(), out_.size(), sample_.data() + 4, length, params);
        benchmark::ClobberMemory();
    }
    bool Ok() const { return ok_; }

  private:
    const std::vector<std::uint8_t>& sample_;
    std::vector<std::uint8_t> out_ = std::vector<std::uint8_t>(kPixelBytes);
    bool ok_ = true;
};

void BM_JpegLsPath(benchmark::State& state) {
    std::vector<std::uint8_t> sample;
    zrf::sim::BuildUsbJpegLsSample(Picture().data(), Settings(), sample);
    JpegLsBare base(sample);
    StreamPath path(kSubtypeMJLS, SourceKind::Usb, sample);
    Paired(state, path, base);
    if (!path.Ok() || !base.Ok()) state.SkipWithError("decode failed");
}

// A frame's copy (CopyPixels, as the decoders copy) from a page-aligned source to a destination
// `ahead` bytes past a page: the path takes every placement from 1 to 63 bytes in turn, where a
// C library's copy may be many times slower; the baseline copies page to page.
class PlacedCopy {
  public:
    PlacedCopy(std::size_t bytes, bool everyPlacement)
        : bytes_(bytes), everyPlacement_(everyPlacement), memory_(2 * kRegion, 1) {}
    bool Ok() const { return memory_.data() != nullptr; }
    void Once() {
        ahead_ = everyPlacement_ ? ahead_ % 63 + 1 : 0;
        CopyPixels(memory_.data() + kRegion + ahead_, memory_.data(), bytes_, false);
        benchmark::ClobberMemory();
    }

  private:
    static constexpr std::size_t kRegion = 1 << 20;
    const std::size_t bytes_;
    const bool everyPlacement_;
    BenchTurns::PageBuffer memory_;
    std::size_t ahead_ = 0;
};

// Sizes below the C library's largest string-move copy: a 320 x 240 picture, and one field of a
// 640 x 480 picture sent in two.
void BM_CopyPlacement(benchmark::State& state) {
    const auto bytes = static_cast<std::size_t>(state.range(0));
    PlacedCopy path(bytes, true), base(bytes, false);
    if (!path.Ok() || !base.Ok()) return state.SkipWithError("no memory");
    Paired(state, path, base);
}

BENCHMARK(BM_UsbRaw)->UseManualTime()->MinTime(0.5);
BENCHMARK(BM_UsbRawSwapped)->UseManualTime()->MinTime(0.5);
BENCHMARK(BM_Ieee1394)->UseManualTime()->MinTime(0.5);
BENCHMARK(BM_Yuy2)->UseManualTime()->MinTime(0.5);
BENCHMARK(BM_JpegLsPath)->UseManualTime()->MinTime(1.0);
BENCHMARK(BM_CopyPlacement)->Arg(153600)->Arg(309788)->UseManualTime()->MinTime(0.5);

// Keeps each pair's median ratio for the summary at the end.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            const auto ratio = r.counters.find("vs_base");
            if (!r.error_occurred && ratio != r.counters.end())
                ratios_[r.run_name.function_name +
                        (r.run_name.args.empty() ? "" : "/" + r.run_name.args)] = ratio->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() const {
        std::printf("\nper 640 x 480 frame, relative to its baseline (CPU time, median of the turns):\n");
        Ratio("USB raw / memcpy", "usb_raw_vs_memcpy", "BM_UsbRaw", 1.5);
        Ratio("USB raw, swapped / memcpy", "usb_raw_swapped_vs_memcpy", "BM_UsbRawSwapped", 1.5);
        Ratio("IEEE-1394 / memcpy", "ieee1394_vs_memcpy", "BM_Ieee1394", 1.5);
        Ratio("YUY2 / memcpy", "yuy2_vs_memcpy", "BM_Yuy2", 0);
        Ratio("JPEG-LS path / bare decode", "jpegls_vs_bare_decode", "BM_JpegLsPath", 1.05);
        std::printf("\na frame's copy, its destination 1 to 63 bytes past a page, against page to page:\n");
        Ratio("320 x 240 (153600 bytes)", "copy_placement_153600_vs_aligned", "BM_CopyPlacement/153600", 1.5);
        Ratio("half of 640 x 480 (309788 bytes)", "copy_placement_309788_vs_aligned",
              "BM_CopyPlacement/309788", 1.5);
    }

  private:
    // Also prints "ratio: KEY VALUE" for scripts.
    void Ratio(const char* label, const char* key, const char* name, double goal) const {
        const auto found = ratios_.find(name);
        if (found == ratios_.end() || found->second <= 0) {
            std::printf("  %-34s n/a\n", label);
            return;
        }
        const double ratio = found->second;
        std::printf("  %-34s %6.3f", label, ratio);
        if (goal > 0) std::printf("  (goal <= %.2f: %s)", goal, ratio <= goal ? "met" : "NOT met");
        std::printf("\n");
        std::printf("ratio: %s %.4f\n", key, ratio);
    }
    std::map<std::string, double> ratios_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
