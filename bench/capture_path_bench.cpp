// The whole capture path against decoding alone: a simulated camera streaming as fast as it
// can, through the capture graph and the grabber into the image stream, whose callback decodes
// each sample; against the same sample decoded straight from the stream. Both run the same
// callback, so the difference is what the graph adds per frame. The time is the CPU time of the
// thread that decodes (the camera's streaming thread in the one case, the benchmark's in the
// other), so neither the waiting benchmark thread nor other work on the machine counts; each
// figure is the median of several repetitions; the overhead ratios are printed at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include <time.h>

#include "bench/camera_streaming.h"
#include "capture/mtx_graph.h"
#include "sim/video/simulated_video_device.h"

namespace {

using CaptureBench::CallbackDecoder;
using CaptureBench::CameraSampleSource;
using CaptureBench::StreamingCamera;

constexpr int kFramesPerIteration = 100;
constexpr int kRepetitions = 7;

// A MJPG sample is passed through as it is: nothing for the graph's share to be measured against.
bool Benched(const StreamingCamera& camera) {
    return camera.samples != CaptureBench::SampleKind::Mjpg;
}

double CpuSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// One camera with its graph built, the stream set up as the device sets it up.
struct Setup {
    explicit Setup(const StreamingCamera& camera)
        : source(std::make_shared<CameraSampleSource>(camera.samples, camera.picture, 1)) {
        device = zrf::sim::SimulatedVideoDevice::Create(camera.preset(), source);
        device->SetPacing(zrf::sim::Pacing::AsFastAsPossible);
        stream.SetSourceKind(camera.kind);
        stream.SetFieldCount(1);
        graph.AttachStream(&stream);
        built = graph.SelectDevice(device->Settings().device_path, L"0", camera.radiometricUsb) ==
                    S_OK &&
                graph.SetMediaType(camera.subtype) == S_OK &&
                graph.BuildCaptureGraph(false) == S_OK;
    }

    std::shared_ptr<CameraSampleSource> source;
    std::shared_ptr<zrf::sim::SimulatedVideoDevice> device;
    ImgSrcStream stream;
    CallbackDecoder decoder{stream};
    CMtxGraph graph;
    bool built = false;
};

void BM_Direct(benchmark::State& state, const StreamingCamera& camera) {
    Setup setup(camera);
    if (!setup.built) return state.SkipWithError("graph not built");
    const auto& sample = setup.source->Samples().front();
    const ImageSize size = setup.graph.GetImageSize();
    setup.stream.SetFrameRate(static_cast<float>(setup.graph.GetFrameRate()));
    for (auto _ : state) {
        const double start = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        for (int i = 0; i < kFramesPerIteration; ++i) {
            setup.stream.OnNewSample(sample.data(), static_cast<std::int32_t>(sample.size()), size);
        }
        benchmark::ClobberMemory();
        state.SetIterationTime(CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - start);
    }
    if (setup.decoder.Failed() > 0) state.SkipWithError("decode failed");
    state.SetItemsProcessed(state.iterations() * kFramesPerIteration);
}

void BM_Graph(benchmark::State& state, const StreamingCamera& camera) {
    Setup setup(camera);
    if (!setup.built || setup.graph.Run() != S_OK) return state.SkipWithError("graph not running");
    // The first sample names the streaming thread.
    bool reached = setup.decoder.WaitForOk(1);
    const clockid_t streaming = setup.decoder.DecodingThreadClock();
    for (auto _ : state) {
        const long before = setup.decoder.Ok();
        const double start = CpuSeconds(streaming);
        reached = reached && setup.decoder.WaitForOk(before + kFramesPerIteration);
        const double cpu = CpuSeconds(streaming) - start;
        const long frames = setup.decoder.Ok() - before;
        state.SetIterationTime(frames > 0 ? cpu / frames * kFramesPerIteration : cpu);
    }
    setup.graph.Stop();
    if (!reached || setup.decoder.Failed() > 0) state.SkipWithError("decode failed");
    state.SetItemsProcessed(state.iterations() * kFramesPerIteration);
}

// Keeps each benchmark's time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median" &&
                !r.error_occurred) {
                times_[r.run_name.function_name] = r.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() const {
        std::printf(
            "\ncapture path overhead per frame, against decoding alone (CPU time of the decoding "
            "thread, medians):\n");
        for (const StreamingCamera& camera : CaptureBench::kStreamingCameras) {
            if (!Benched(camera)) continue;
            const std::string name = camera.name;
            const auto graph = Find("BM_Graph/" + name);
            const auto direct = Find("BM_Direct/" + name);
            if (graph <= 0 || direct <= 0) {
                std::printf("  %-10s n/a\n", camera.name);
                continue;
            }
            const double overhead = graph / direct - 1.0;
            std::printf("  %-10s %+6.2f %%  (goal <= 5 %%: %s)\n", camera.name, overhead * 100.0,
                        overhead <= 0.05 ? "met" : "NOT met");
            // For scripts: "ratio: KEY VALUE", the capture path's time over decoding alone.
            std::printf("ratio: capture_path_%s %.4f\n", camera.name, graph / direct);
        }
    }

  private:
    double Find(const std::string& prefix) const {
        for (const auto& [name, time] : times_) {
            if (name.rfind(prefix, 0) == 0) return time;
        }
        return -1;
    }
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    CaptureBench::StayOnOneProcessor();
    for (const StreamingCamera& camera : CaptureBench::kStreamingCameras) {
        if (!Benched(camera)) continue;
        benchmark::RegisterBenchmark((std::string("BM_Direct/") + camera.name).c_str(),
                                     [&camera](benchmark::State& s) { BM_Direct(s, camera); })
            ->UseManualTime()
            ->Repetitions(kRepetitions)
            ->ReportAggregatesOnly(true);
        benchmark::RegisterBenchmark((std::string("BM_Graph/") + camera.name).c_str(),
                                     [&camera](benchmark::State& s) { BM_Graph(s, camera); })
            ->UseManualTime()
            ->Repetitions(kRepetitions)
            ->ReportAggregatesOnly(true);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
