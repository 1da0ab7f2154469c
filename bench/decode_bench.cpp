// Cost of each decode path for one 640 x 480 frame, against its natural baseline: a memcpy of
// the pixel bytes for the copying paths, a bare codec decode for the JPEG-LS path. The ratios
// are printed at the end of the run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "imaging/img_src_stream.h"
#include "imaging/jpegls_codec.h"
#include "imaging/media_subtypes.h"
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

void RunStream(benchmark::State& state, const GUID& subtype, SourceKind kind,
               const std::vector<std::uint8_t>& sample) {
    ImgSrcStream stream;
    stream.SetSourceKind(kind);
    stream.SetSubtype(subtype);
    stream.SetFrameRate(30.0f);
    std::vector<std::uint8_t> out(kPixelBytes + 16384);
    g_decoding = Decoding{&stream, out.data(), true};
    stream.SetNewImageCallback(&DecodeField0);
    for (auto _ : state) {
        stream.OnNewSample(sample.data(), static_cast<std::int32_t>(sample.size()), kSize);
        benchmark::ClobberMemory();
    }
    if (!g_decoding.ok) state.SkipWithError("decode failed");
}

zrf::sim::SampleSettings Settings(std::uint16_t byteOrder = 2) {
    zrf::sim::SampleSettings s;
    s.size = kSize;
    s.pixelByteOrder = byteOrder;
    return s;
}

void BM_Memcpy(benchmark::State& state) {
    std::vector<std::uint8_t> src(kPixelBytes, 1), dst(kPixelBytes);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), kPixelBytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
}

void BM_UsbRaw(benchmark::State& state) {
    std::vector<std::uint8_t> sample;
    zrf::sim::BuildUsbRawSample(Picture().data(), Settings(), sample);
    RunStream(state, kSubtypeF7M0, SourceKind::Usb, sample);
}

void BM_UsbRawSwapped(benchmark::State& state) {
    std::vector<std::uint8_t> sample;
    zrf::sim::BuildUsbRawSample(Picture().data(), Settings(Zrf::kPixelsSwapped), sample);
    RunStream(state, kSubtypeF7M0, SourceKind::Usb, sample);
}

void BM_Ieee1394(benchmark::State& state) {
    std::vector<std::uint8_t> sample;
    zrf::sim::BuildIeee1394Sample(Picture().data(), Settings(), sample);
    RunStream(state, kSubtypeF7M2, SourceKind::Ieee1394, sample);
}

void BM_Yuy2(benchmark::State& state) {
    std::vector<std::uint8_t> sample;
    zrf::sim::BuildYuy2Sample(Picture().data(), Settings(), sample);
    RunStream(state, kSubtypeYUY2, SourceKind::Usb, sample);
}

const std::vector<std::uint8_t>& JpegLsSample() {
    static const std::vector<std::uint8_t> sample = [] {
        std::vector<std::uint8_t> s;
        zrf::sim::BuildUsbJpegLsSample(Picture().data(), Settings(), s);
        return s;
    }();
    return sample;
}

void BM_JpegLsPath(benchmark::State& state) {
    RunStream(state, kSubtypeMJLS, SourceKind::Usb, JpegLsSample());
}

void BM_JpegLsBare(benchmark::State& state) {
    const auto& sample = JpegLsSample();
    const std::uint32_t length = Zrf::LoadBigEndian32(sample.data());
    std::vector<std::uint8_t> out(kPixelBytes);
    bool ok = true;
    for (auto _ : state) {
        JlsParameters params;
        ok &= ReadJpegLsHeader(sample.data() + 4, length, params) &&
              DecodeJpegLs(out.data(), out.size(), sample.data() + 4, length, params);
        benchmark::ClobberMemory();
    }
    if (!ok) state.SkipWithError("decode failed");
}

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_UsbRaw);
BENCHMARK(BM_UsbRawSwapped);
BENCHMARK(BM_Ieee1394);
BENCHMARK(BM_Yuy2);
BENCHMARK(BM_JpegLsBare);
BENCHMARK(BM_JpegLsPath);

// Keeps each benchmark's time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.run_type == Run::RT_Iteration && !r.error_occurred) {
                times_[r.benchmark_name()] = {r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()};
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() const {
        std::printf("\nper 640 x 480 frame, relative to its baseline (wall time, CPU time):\n");
        Ratio("USB raw / memcpy", "usb_raw_vs_memcpy", "BM_UsbRaw", "BM_Memcpy", 1.5);
        Ratio("USB raw, swapped / memcpy", "usb_raw_swapped_vs_memcpy", "BM_UsbRawSwapped",
              "BM_Memcpy", 1.5);
        Ratio("IEEE-1394 / memcpy", "ieee1394_vs_memcpy", "BM_Ieee1394", "BM_Memcpy", 1.5);
        Ratio("YUY2 / memcpy", "yuy2_vs_memcpy", "BM_Yuy2", "BM_Memcpy", 0);
        Ratio("JPEG-LS path / bare decode", "jpegls_vs_bare_decode", "BM_JpegLsPath",
              "BM_JpegLsBare", 1.05);
    }

  private:
    // Also prints "ratio: KEY CPU-RATIO" for scripts.
    void Ratio(const char* label, const char* key, const char* path, const char* base,
               double goal) const {
        const auto p = times_.find(path), b = times_.find(base);
        if (p == times_.end() || b == times_.end() || b->second.first <= 0 ||
            b->second.second <= 0) {
            std::printf("  %-30s n/a\n", label);
            return;
        }
        const double wall = p->second.first / b->second.first;
        const double cpu = p->second.second / b->second.second;
        std::printf("  %-30s %6.3f %6.3f", label, wall, cpu);
        if (goal > 0) std::printf("  (goal <= %.2f: %s)", goal, cpu <= goal ? "met" : "NOT met");
        std::printf("\n");
        std::printf("ratio: %s %.4f\n", key, cpu);
    }
    std::map<std::string, std::pair<double, double>> times_;
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
