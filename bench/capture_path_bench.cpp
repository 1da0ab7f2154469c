// The whole capture path against decoding alone: a simulated camera streaming as fast as it
// can, through the capture graph and the grabber into the image stream, whose callback decodes
// each sample; against the same sample decoded straight from the stream. Both run the same
// callback, so the difference is what the graph adds per frame. The two take turns on one
// processor (the streaming thread waits in the callback while decoding alone is measured), so
// both meet the same state of the machine; each turn's time is the CPU time of the thread that
// decodes, and the ratio is the median of the turns' ratios.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <time.h>

#include "bench/camera_streaming.h"
#include "bench/turns.h"
#include "capture/mtx_graph.h"
#include "sim/video/simulated_video_device.h"

namespace {

using CaptureBench::CallbackDecoder;
using CaptureBench::CameraSampleSource;
using CaptureBench::StreamingCamera;

// A turn lasts about this long: long enough that waking the streaming thread once per turn is
// lost in it, short enough for hundreds of turns.
constexpr double kTurnSeconds = 0.003;

// A MJPG sample is passed through as it is: nothing for the graph's share to be measured against.
bool Benched(const StreamingCamera& camera) {
    return camera.samples != CaptureBench::SampleKind::Mjpg;
}

using BenchTurns::Median;
double CpuSeconds(clockid_t clock) { return BenchTurns::ClockSeconds(clock); }

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
    // The streaming thread may wait in the decoder's gate: opened first, whatever way the
    // benchmark left, or stopping the graph would wait for ever.
    ~Setup() {
        decoder.Open();
        graph.Stop();
    }
    Setup(const Setup&) = delete;
    Setup& operator=(const Setup&) = delete;

    std::shared_ptr<CameraSampleSource> source;
    std::shared_ptr<zrf::sim::SimulatedVideoDevice> device;
    ImgSrcStream stream;
    CallbackDecoder decoder{stream};
    CMtxGraph graph;
    bool built = false;
};

// Each iteration is a turn of each: a few milliseconds of samples decoded straight from the stream on
// this thread, and as many through the running graph on its streaming thread; which goes first
// alternates. The iteration's time is the graph's; the counters hold the median ratio and the
// median times per frame.
void BM_CapturePath(benchmark::State& state, const StreamingCamera& camera) {
    Setup setup(camera);
    if (!setup.built) return state.SkipWithError("graph not built");
    const std::size_t length = setup.source->Samples().front().size();
    const ImageSize size = setup.graph.GetImageSize();
    setup.stream.SetFrameRate(static_cast<float>(setup.graph.GetFrameRate()));
    if (setup.graph.Run() != S_OK) return state.SkipWithError("graph not running");
    // The first samples name the streaming thread and fill the device's buffers.
    bool reached = setup.decoder.Stream(10);
    // Decoding alone reads the very buffer the graph delivers (a camera's source filter sends
    // one sample, so the device reuses one buffer): where the bytes lie is not the graph's share.
    const BYTE* sample = setup.source->LastFilled();
    if (sample == nullptr) return state.SkipWithError("no sample delivered");
    const clockid_t streaming = setup.decoder.StreamingThreadClock();
    int frames = 1;
    const auto direct = [&] {
        const double start = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        for (int i = 0; i < frames; ++i)
            setup.stream.OnNewSample(sample, static_cast<std::int32_t>(length), size);
        benchmark::ClobberMemory();
        return CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - start;
    };
    const auto graph = [&] {
        const double start = CpuSeconds(streaming);
        reached = reached && setup.decoder.Stream(frames);
        return CpuSeconds(streaming) - start;
    };
    const double once = std::max(direct(), 1e-7);
    frames = static_cast<int>(std::clamp(kTurnSeconds / once, 4.0, 1000.0));
    std::vector<double> ratios, directTimes, graphTimes;
    long turn = 0;
    for (auto _ : state) {
        const auto [d, g] = BenchTurns::TakeTurns(turn, direct, graph);
        state.SetIterationTime(g);
        if (d > 0) ratios.push_back(g / d);
        directTimes.push_back(d / frames * 1e6);
        graphTimes.push_back(g / frames * 1e6);
    }
    if (!reached || setup.decoder.Failed() > 0) return state.SkipWithError("decode failed");
    state.counters["vs_decode"] = Median(ratios);
    state.counters["direct_us"] = Median(directTimes);
    state.counters["graph_us"] = Median(graphTimes);
    state.counters["frames_per_turn"] = frames;
    state.SetItemsProcessed(state.iterations() * frames);
}

// Keeps each camera's median ratio for the summary at the end.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            const auto ratio = r.counters.find("vs_decode");
            if (!r.error_occurred && ratio != r.counters.end()) ratios_[r.run_name.function_name] = ratio->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() const {
        std::printf(
            "\ncapture path overhead per frame, against decoding alone (CPU time of the decoding "
            "thread, median of the turns):\n");
        for (const StreamingCamera& camera : CaptureBench::kStreamingCameras) {
            if (!Benched(camera)) continue;
            const auto found = ratios_.find(std::string("BM_CapturePath/") + camera.name);
            if (found == ratios_.end() || found->second <= 0) {
                std::printf("  %-10s n/a\n", camera.name);
                continue;
            }
            const double ratio = found->second;
            std::printf("  %-10s %+6.2f %%  (goal <= 5 %%: %s)\n", camera.name, (ratio - 1.0) * 100.0,
                        ratio <= 1.05 ? "met" : "NOT met");
            // For scripts: "ratio: KEY VALUE", the capture path's time over decoding alone.
            std::printf("ratio: capture_path_%s %.4f\n", camera.name, ratio);
        }
    }

  private:
    std::map<std::string, double> ratios_;
};

}  // namespace

int main(int argc, char** argv) {
    CaptureBench::StayOnOneProcessor();
    for (const StreamingCamera& camera : CaptureBench::kStreamingCameras) {
        if (!Benched(camera)) continue;
        benchmark::RegisterBenchmark((std::string("BM_CapturePath/") + camera.name).c_str(),
                                     [&camera](benchmark::State& s) { BM_CapturePath(s, camera); })
            ->UseManualTime()
            ->MinTime(2.0);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
